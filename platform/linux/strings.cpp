#include "platform/strings.h"

#include <cerrno>

#include "platform/errors.h"
#include "platform/linux/internal.h"

namespace win32 {

namespace {

constexpr char16_t kRawByteFirst = 0xDC80;

// The characters Windows refuses in names, and the private-use stand-ins they take in the
// engine's names: a backslash and a colon would split a path, and "*" and "?" would turn a
// name into a pattern. Each stand-in is U+F000 plus the character.
constexpr char32_t kReserved[] = {U'\\', U':', U'"', U'*', U'<', U'>', U'?', U'|'};
constexpr char16_t kStandInBase = 0xF000;

bool Reserved(char32_t point) {
  for (char32_t c : kReserved) {
    if (c == point) return true;
  }
  return false;
}

bool StandIn(char32_t point) {
  return point >= kStandInBase && point < kStandInBase + 0x80 && Reserved(point - kStandInBase);
}

// Length of the valid UTF-8 sequence at s[i] and its code point, or 0 when invalid.
std::size_t DecodeUtf8(std::string_view s, std::size_t i, char32_t* point) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b0 = byte(i);
  std::size_t length = 0;
  char32_t value = 0;
  if (b0 < 0x80) {
    *point = b0;
    return 1;
  } else if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
    value = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    value = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    value = b0 & 0x07;
  } else {
    return 0;
  }
  if (i + length > s.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned char b = byte(i + k);
    if ((b & 0xC0) != 0x80) return 0;
    value = (value << 6) | (b & 0x3F);
  }
  // Reject overlong forms, surrogates and values past U+10FFFF.
  if ((length == 3 && value < 0x800) || (length == 4 && (value < 0x10000 || value > 0x10FFFF)) ||
      (value >= 0xD800 && value <= 0xDFFF)) {
    return 0;
  }
  *point = value;
  return length;
}

void AppendUtf8(std::string& out, char32_t point) {
  if (point < 0x80) {
    out += static_cast<char>(point);
  } else if (point < 0x800) {
    out += static_cast<char>(0xC0 | (point >> 6));
    out += static_cast<char>(0x80 | (point & 0x3F));
  } else if (point < 0x10000) {
    out += static_cast<char>(0xE0 | (point >> 12));
    out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (point >> 18));
    out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (point & 0x3F));
  }
}

bool IsLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

// Reserved characters are mapped to their stand-ins for names, and kept for plain text.
enum class Separators { StandIns, Kept };

std::u16string Decode(std::string_view native, Separators separators) {
  std::u16string out;
  out.reserve(native.size());
  std::size_t i = 0;
  while (i < native.size()) {
    char32_t point = 0;
    const std::size_t length = DecodeUtf8(native, i, &point);
    const bool standIn = separators == Separators::StandIns && StandIn(point);
    if (length == 0 || standIn) {
      // The stand-ins themselves are kept as raw bytes, so that they stay distinct from the
      // characters they stand for on the way back.
      const std::size_t count = length == 0 ? 1 : length;
      for (std::size_t k = 0; k < count; ++k) {
        out += static_cast<char16_t>(kRawByteFirst - 0x80 +
                                     static_cast<unsigned char>(native[i + k]));
      }
      i += count;
      continue;
    }
    if (separators == Separators::StandIns && Reserved(point)) {
      out += static_cast<char16_t>(kStandInBase + point);
    } else if (point >= 0x10000) {
      const char32_t v = point - 0x10000;
      out += static_cast<char16_t>(0xD800 + (v >> 10));
      out += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
    } else {
      out += static_cast<char16_t>(point);
    }
    i += length;
  }
  return out;
}

std::string Encode(std::u16string_view name, Separators separators) {
  std::string out;
  out.reserve(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char16_t c = name[i];
    if (separators == Separators::StandIns && StandIn(c)) {
      out += static_cast<char>(c - kStandInBase);
    } else if (c >= 0xDC80 && c <= 0xDCFF) {
      out += static_cast<char>(c - kRawByteFirst + 0x80);
    } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < name.size() && name[i + 1] >= 0xDC00 &&
               name[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) +
                          (static_cast<char32_t>(name[i + 1]) - 0xDC00));
      ++i;
    } else {
      // A lone surrogate never comes from a native name; it is written as its three-byte
      // form, which reads back as raw bytes.
      AppendUtf8(out, c);
    }
  }
  return out;
}

}  // namespace

std::u16string NameFromNative(std::string_view native) { return Decode(native, Separators::StandIns); }
std::string NameToNative(std::u16string_view name) { return Encode(name, Separators::StandIns); }
std::u16string Utf16(std::string_view utf8) { return Decode(utf8, Separators::Kept); }
std::string Utf8(std::u16string_view text) { return Encode(text, Separators::Kept); }

std::optional<std::string> NativePath(std::u16string_view path) {
  if (path.substr(0, 4) == u"\\\\?\\") path.remove_prefix(4);
  std::string native;
  std::u16string_view relative;
  if (!path.empty() && path[0] == u'/') {
    return NameToNative(path);
  }
  if (path.size() >= 2 && IsLetter(path[0]) && path[1] == u':') {
    const char16_t letter = path[0] >= u'a' ? static_cast<char16_t>(path[0] - 32) : path[0];
    auto root = detail::RootOfLetter(letter);
    if (!root) return std::nullopt;
    native = *root;
    relative = path.substr(2);
  } else {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return std::nullopt;
  }
  // Each part between backslashes becomes one native name.
  std::size_t start = 0;
  while (start <= relative.size()) {
    std::size_t end = relative.find(u'\\', start);
    if (end == std::u16string_view::npos) end = relative.size();
    const std::u16string_view part = relative.substr(start, end - start);
    if (!part.empty()) {
      if (part == u"." || part == u".." || part.find(u'/') != std::u16string_view::npos ||
          part.find(u'\0') != std::u16string_view::npos) {
        SetLastError(ERROR_INVALID_NAME);
        return std::nullopt;
      }
      if (native.empty() || native.back() != '/') native += '/';
      native += NameToNative(part);
    }
    start = end + 1;
  }
  const bool trailing = !relative.empty() && relative.back() == u'\\';
  if (trailing && native.back() != '/') native += '/';
  return native;
}

std::optional<std::u16string> DrivePath(std::string_view nativePath) {
  auto drive = detail::DriveOfNative(nativePath);
  if (!drive) return std::nullopt;
  std::u16string out;
  out += drive->first;
  out += u":\\";
  std::string_view rest = nativePath.substr(drive->second == "/" ? 1 : drive->second.size());
  while (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
  std::size_t start = 0;
  bool first = true;
  while (start < rest.size()) {
    std::size_t end = rest.find('/', start);
    if (end == std::string_view::npos) end = rest.size();
    if (end > start) {
      if (!first) out += u'\\';
      out += NameFromNative(rest.substr(start, end - start));
      first = false;
    }
    start = end + 1;
  }
  return out;
}

}  // namespace win32
