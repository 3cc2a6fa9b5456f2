#pragma once

// Lossless conversion between the engine's UTF-16 names and native (UTF-8 byte) names, and
// between the engine's system paths ("\\?\X:\a\b") and native paths.
//
// Native to UTF-16: valid UTF-8 decodes to its code points, except that the characters
// Windows refuses in names, \ : " * < > ? |, become U+F000 plus the character (U+F05C,
// U+F03A, U+F022, U+F02A, U+F03C, U+F03E, U+F03F, U+F07C): a backslash and a colon would
// split an engine path, and "*" and "?" would make a name a search pattern. Every byte that
// is not part of valid UTF-8 (or that encodes one of those stand-ins itself) becomes
// U+DC80..U+DCFF. UTF-16 to native reverses exactly that, so every native name round-trips.

#include <optional>
#include <string>
#include <string_view>

namespace win32 {

std::u16string NameFromNative(std::string_view native);
std::string NameToNative(std::u16string_view name);

// UTF-8 text (messages, labels) to UTF-16 and back: as names, but a backslash and a colon
// stay themselves.
std::u16string Utf16(std::string_view utf8);
std::string Utf8(std::u16string_view text);

// A system path to the native path it names. Accepted forms: "\\?\X:\rel", "X:\rel" (the
// mount root of the drive with letter X, then rel) and "/abs" (a native absolute path).
// Fails (no value, last error set) for a letter with no drive (ERROR_PATH_NOT_FOUND), a
// drive whose mount is gone, or a relative part with "." or ".." components, "/" or NUL
// inside a name (ERROR_INVALID_NAME): an engine path never climbs out of its drive.
std::optional<std::string> NativePath(std::u16string_view systemPath);

// A native absolute path to "X:\rel" by the listed drive whose mount root is its longest
// prefix; no value when it lies on no listed drive. The root itself gives "X:\".
std::optional<std::u16string> DrivePath(std::string_view nativePath);

}  // namespace win32
