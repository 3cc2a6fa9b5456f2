// Attributes, file times and folder searches.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/linux/handles.h"
#include "platform/linux/internal.h"
#include "platform/strings.h"

namespace win32 {

namespace {

using detail::Fail;
using detail::FailErrno;

// Seconds from 1 January 1601 to 1 January 1970.
constexpr std::int64_t kEpochDifference = 11644473600LL;

struct EntryFacts {
  DWORD attributes = 0;
  FILETIME creation, access, write;
  std::uint64_t size = 0;
};

FILETIME FromStatx(const statx_timestamp& t) {
  timespec ts{};
  ts.tv_sec = t.tv_sec;
  ts.tv_nsec = t.tv_nsec;
  return detail::FileTimeFromTimespec(ts);
}

// Facts of the entry `name` in the folder `dirFd` (or of a whole path with AT_FDCWD). A
// symbolic link reports its target, with the reparse bit; a dangling one reports itself.
bool Facts(int dirFd, const char* name, std::string_view lastPart, EntryFacts* facts) {
  struct statx link {};
  const unsigned mask = STATX_BASIC_STATS | STATX_BTIME;
  if (::statx(dirFd, name, AT_SYMLINK_NOFOLLOW, mask, &link) != 0) return FailErrno(errno);
  struct statx target = link;
  const bool symbolic = S_ISLNK(link.stx_mode);
  if (symbolic && ::statx(dirFd, name, 0, mask, &target) != 0) target = link;
  struct stat st {};
  st.st_mode = target.stx_mode;
  facts->attributes = detail::AttributesFromStat(st, lastPart, symbolic);
  facts->access = FromStatx(target.stx_atime);
  facts->write = FromStatx(target.stx_mtime);
  facts->creation = (target.stx_mask & STATX_BTIME) != 0 ? FromStatx(target.stx_btime) : facts->write;
  facts->size = S_ISREG(target.stx_mode) ? target.stx_size : 0;
  return true;
}

// Attributes, times and size, in either of the records that carry them.
template <class Data>
void FillFacts(const EntryFacts& facts, Data* data) {
  data->dwFileAttributes = facts.attributes;
  data->ftCreationTime = facts.creation;
  data->ftLastAccessTime = facts.access;
  data->ftLastWriteTime = facts.write;
  data->nFileSizeHigh = static_cast<DWORD>(facts.size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(facts.size & 0xFFFFFFFFu);
}

void Fill(const EntryFacts& facts, std::u16string name, WIN32_FIND_DATAW* data) {
  FillFacts(facts, data);
  data->cFileName = std::move(name);
}

char16_t Fold(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

// Windows wildcards: "*" any run, "?" one unit, case-blind for ASCII letters.
bool Matches(std::u16string_view pattern, std::u16string_view name) {
  if (pattern == u"*" || pattern == u"*.*") return true;
  std::size_t p = 0, n = 0, star = std::u16string_view::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || Fold(pattern[p]) == Fold(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      mark = n;
    } else if (star != std::u16string_view::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

struct FindObject : detail::Object {
  ~FindObject() override {
    if (dir != nullptr) ::closedir(dir);
  }
  DIR* dir = nullptr;  // Null for a search that named one entry.
  std::u16string pattern;
};

// Next entry of the folder that matches; false with ERROR_NO_MORE_FILES at the end.
bool Next(FindObject& find, WIN32_FIND_DATAW* data) {
  if (find.dir == nullptr) return Fail(ERROR_NO_MORE_FILES);
  for (;;) {
    errno = 0;
    dirent* entry = ::readdir(find.dir);
    if (entry == nullptr) return errno != 0 ? FailErrno(errno) : Fail(ERROR_NO_MORE_FILES);
    std::u16string name = NameFromNative(entry->d_name);
    if (!Matches(find.pattern, name)) continue;
    EntryFacts facts;
    if (!Facts(::dirfd(find.dir), entry->d_name, entry->d_name, &facts)) continue;  // Vanished.
    Fill(facts, std::move(name), data);
    return true;
  }
}

}  // namespace

namespace detail {

FILETIME FileTimeFromTimespec(const timespec& t) {
  const std::int64_t value = (static_cast<std::int64_t>(t.tv_sec) + kEpochDifference) * 10000000LL +
                             t.tv_nsec / 100;
  return Int64ToFileTime(value);
}

timespec TimespecFromFileTime(const FILETIME& t) {
  const std::int64_t value = FileTimeToInt64(t);
  std::int64_t seconds = value / 10000000LL;
  std::int64_t rest = value % 10000000LL;
  if (rest < 0) {
    rest += 10000000LL;
    --seconds;
  }
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(seconds - kEpochDifference);
  ts.tv_nsec = static_cast<long>(rest * 100);
  return ts;
}

std::string_view LastPart(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const auto slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

DWORD AttributesFromStat(const struct stat& st, std::string_view name, bool symbolicLink) {
  DWORD attributes = 0;
  if (S_ISDIR(st.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if (S_ISREG(st.st_mode)) attributes |= FILE_ATTRIBUTE_ARCHIVE;
  // A FIFO, socket or device has no size of its own to copy.
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode)) attributes |= FILE_ATTRIBUTE_DEVICE;
  if ((st.st_mode & S_IWUSR) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
  if (!name.empty() && name[0] == '.' && name != "." && name != "..") attributes |= FILE_ATTRIBUTE_HIDDEN;
  if (symbolicLink) attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

bool CloseFindObject(const std::shared_ptr<Object>& find) {
  if (!std::dynamic_pointer_cast<FindObject>(find)) return Fail(ERROR_INVALID_HANDLE);
  return true;
}

}  // namespace detail

DWORD GetFileAttributesW(std::u16string_view path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  return GetFileAttributesExW(path, &data) ? data.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

bool GetFileAttributesExW(std::u16string_view path, WIN32_FILE_ATTRIBUTE_DATA* data) {
  auto native = NativePath(path);
  if (!native) return false;
  EntryFacts facts;
  if (!Facts(AT_FDCWD, native->c_str(), detail::LastPart(*native), &facts)) {
    return FailErrno(errno, &*native);
  }
  FillFacts(facts, data);
  return true;
}

HANDLE FindFirstFileW(std::u16string_view pattern, WIN32_FIND_DATAW* data) {
  const auto cut = pattern.find_last_of(u'\\');
  const std::u16string_view last = cut == std::u16string_view::npos ? pattern : pattern.substr(cut + 1);
  auto find = std::make_shared<FindObject>();
  if (last.find_first_of(u"*?") != std::u16string_view::npos) {
    auto folder = NativePath(pattern.substr(0, cut == std::u16string_view::npos ? 0 : cut + 1));
    if (!folder) return INVALID_HANDLE_VALUE;
    find->dir = ::opendir(folder->c_str());
    if (find->dir == nullptr) {
      FailErrno(errno, &*folder);
      return INVALID_HANDLE_VALUE;
    }
    find->pattern = std::u16string(last);
    if (!Next(*find, data)) {
      if (GetLastError() == ERROR_NO_MORE_FILES) SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
  } else {
    auto native = NativePath(pattern);
    if (!native) return INVALID_HANDLE_VALUE;
    const std::string_view name = detail::LastPart(*native);
    EntryFacts facts;
    if (last.empty() || !Facts(AT_FDCWD, native->c_str(), name, &facts)) {
      FailErrno(last.empty() ? ENOENT : errno, &*native);
      return INVALID_HANDLE_VALUE;
    }
    Fill(facts, NameFromNative(name), data);
  }
  SetLastError(ERROR_SUCCESS);
  return detail::InsertHandle(find);
}

bool FindNextFileW(HANDLE handle, WIN32_FIND_DATAW* data) {
  auto find = detail::Lookup<FindObject>(handle);
  if (!find) return Fail(ERROR_INVALID_HANDLE);
  return Next(*find, data);
}

bool FindClose(HANDLE handle) {
  if (!detail::Lookup<FindObject>(handle)) return Fail(ERROR_INVALID_HANDLE);
  return CloseHandle(handle);
}

bool GetFileIdentity(std::u16string_view path, std::uint64_t* volume, std::uint64_t* file, std::uint64_t* mount) {
  auto native = NativePath(path);
  if (!native) return false;
  struct statx sx {};
  if (::statx(AT_FDCWD, native->c_str(), 0, STATX_BASIC_STATS | STATX_MNT_ID, &sx) != 0) {
    return FailErrno(errno, &*native);
  }
  *volume = makedev(sx.stx_dev_major, sx.stx_dev_minor);
  *file = sx.stx_ino;
  if (mount != nullptr) {
    // Kernels before 5.8 give no mount number; the device then tells file systems apart,
    // though not bind mounts of one file system.
    *mount = (sx.stx_mask & STATX_MNT_ID) != 0 ? sx.stx_mnt_id : *volume | (1ULL << 63);
  }
  return true;
}

bool FileTimeToSystemTime(const FILETIME* time, SYSTEMTIME* fields) {
  const std::int64_t value = FileTimeToInt64(*time);
  if (value < 0) return Fail(ERROR_INVALID_PARAMETER);
  const std::int64_t milliseconds = value / 10000;
  std::int64_t days = milliseconds / 86400000LL;
  const std::int64_t ofDay = milliseconds % 86400000LL;
  fields->wDayOfWeek = static_cast<std::uint16_t>((days + 1) % 7);  // 1 January 1601 was a Monday.
  // Civil date from days since 1601-01-01, by way of days since 1970-01-01.
  days -= 134774;
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  if (year > 30827) return Fail(ERROR_INVALID_PARAMETER);
  fields->wYear = static_cast<std::uint16_t>(year);
  fields->wMonth = static_cast<std::uint16_t>(month);
  fields->wDay = static_cast<std::uint16_t>(day);
  fields->wHour = static_cast<std::uint16_t>(ofDay / 3600000);
  fields->wMinute = static_cast<std::uint16_t>(ofDay / 60000 % 60);
  fields->wSecond = static_cast<std::uint16_t>(ofDay / 1000 % 60);
  fields->wMilliseconds = static_cast<std::uint16_t>(ofDay % 1000);
  return true;
}

}  // namespace win32
