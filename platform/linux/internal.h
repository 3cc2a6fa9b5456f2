#pragma once

// Helpers shared by the Linux implementation files; never included outside platform/linux.

#include <sys/stat.h>

#include <optional>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace win32::detail {

// The one place errno becomes a Win32 code. For ENOENT the path (when given) decides
// between ERROR_FILE_NOT_FOUND and ERROR_PATH_NOT_FOUND (its folder is missing too).
DWORD ErrorFromErrno(int error, const std::string* path = nullptr);
// Sets the last error from errno (or the given errno value) and returns false.
bool FailErrno(int error, const std::string* path = nullptr);
bool Fail(DWORD code);

// The errno whose text stands for a Win32 code, or 0 when the code has a text of its own.
int ErrnoForError(DWORD code);

FILETIME FileTimeFromTimespec(const timespec& t);
timespec TimespecFromFileTime(const FILETIME& t);

// Attribute word of an entry; name is its last path part (it decides "hidden").
DWORD AttributesFromStat(const struct stat& st, std::string_view name, bool symbolicLink);

// The last part of a native path.
std::string_view LastPart(std::string_view path);

// Drive table lookups used by path conversion. RootOfLetter fails with the last error set
// when the letter has no drive or the drive's mount is gone.
std::optional<std::string> RootOfLetter(char16_t letter);
// Letter and root of the listed drive whose root is the longest prefix of path.
std::optional<std::pair<char16_t, std::string>> DriveOfNative(std::string_view path);

}  // namespace win32::detail
