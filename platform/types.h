#pragma once

// The Windows vocabulary the engine is written in: handles, file times, overlapped records,
// find data and the flag and error values it passes. Nothing here includes a system header.

#include <cstdint>
#include <string>

namespace win32 {

using DWORD = std::uint32_t;
using ULONG_PTR = std::uintptr_t;

// A handle is a number in the platform's handle table; all bits set means "no handle".
using HANDLE = std::intptr_t;
inline constexpr HANDLE INVALID_HANDLE_VALUE = -1;

struct FILETIME {
  DWORD dwLowDateTime = 0;
  DWORD dwHighDateTime = 0;
};

inline std::int64_t FileTimeToInt64(const FILETIME& t) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime);
}

inline FILETIME Int64ToFileTime(std::int64_t v) {
  FILETIME t;
  t.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(v) & 0xFFFFFFFFu);
  t.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(v) >> 32);
  return t;
}

struct SYSTEMTIME {
  std::uint16_t wYear = 0;
  std::uint16_t wMonth = 0;
  std::uint16_t wDayOfWeek = 0;
  std::uint16_t wDay = 0;
  std::uint16_t wHour = 0;
  std::uint16_t wMinute = 0;
  std::uint16_t wSecond = 0;
  std::uint16_t wMilliseconds = 0;
};

// The record an overlapped transfer is started with. Offset/OffsetHigh carry the file
// position; after completion Internal holds the Win32 status and InternalHigh the bytes.
struct OVERLAPPED {
  ULONG_PTR Internal = 0;
  ULONG_PTR InternalHigh = 0;
  DWORD Offset = 0;
  DWORD OffsetHigh = 0;
  HANDLE hEvent = 0;
};

struct WIN32_FILE_ATTRIBUTE_DATA {
  DWORD dwFileAttributes = 0;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh = 0;
  DWORD nFileSizeLow = 0;
};

struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes = 0;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh = 0;
  DWORD nFileSizeLow = 0;
  std::u16string cFileName;
};

struct MEMORYSTATUSEX {
  DWORD dwLength = 64;
  DWORD dwMemoryLoad = 0;
  std::uint64_t ullTotalPhys = 0;
  std::uint64_t ullAvailPhys = 0;
  std::uint64_t ullTotalPageFile = 0;
  std::uint64_t ullAvailPageFile = 0;
  std::uint64_t ullTotalVirtual = 0;
  std::uint64_t ullAvailVirtual = 0;
  std::uint64_t ullAvailExtendedVirtual = 0;
};

// Access, share, disposition and flag values of CreateFileW.
inline constexpr DWORD GENERIC_READ = 0x80000000u;
inline constexpr DWORD GENERIC_WRITE = 0x40000000u;
inline constexpr DWORD FILE_SHARE_READ = 0x1;
inline constexpr DWORD FILE_SHARE_WRITE = 0x2;
inline constexpr DWORD FILE_SHARE_DELETE = 0x4;
inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD TRUNCATE_EXISTING = 5;
inline constexpr DWORD FILE_FLAG_WRITE_THROUGH = 0x80000000u;
inline constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000u;
inline constexpr DWORD FILE_FLAG_NO_BUFFERING = 0x20000000u;
inline constexpr DWORD FILE_FLAG_RANDOM_ACCESS = 0x10000000u;
inline constexpr DWORD FILE_FLAG_SEQUENTIAL_SCAN = 0x08000000u;
inline constexpr DWORD FILE_FLAG_DELETE_ON_CLOSE = 0x04000000u;
inline constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000u;
inline constexpr DWORD FILE_FLAG_POSIX_SEMANTICS = 0x01000000u;

// File attributes.
inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;
inline constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x2;
inline constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x4;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
inline constexpr DWORD FILE_ATTRIBUTE_DEVICE = 0x40;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;

// GetFileType.
inline constexpr DWORD FILE_TYPE_UNKNOWN = 0;
inline constexpr DWORD FILE_TYPE_DISK = 1;
inline constexpr DWORD FILE_TYPE_CHAR = 2;
inline constexpr DWORD FILE_TYPE_PIPE = 3;

inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD FILE_CURRENT = 1;
inline constexpr DWORD FILE_END = 2;
inline constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;

inline constexpr DWORD INFINITE = 0xFFFFFFFFu;

// Memory.
inline constexpr DWORD MEM_COMMIT = 0x1000;
inline constexpr DWORD MEM_RESERVE = 0x2000;
inline constexpr DWORD MEM_RELEASE = 0x8000;
inline constexpr DWORD PAGE_READWRITE = 0x04;
inline constexpr DWORD PAGE_NOCACHE = 0x200;

// Drive types.
inline constexpr DWORD DRIVE_UNKNOWN = 0;
inline constexpr DWORD DRIVE_NO_ROOT_DIR = 1;
inline constexpr DWORD DRIVE_REMOVABLE = 2;
inline constexpr DWORD DRIVE_FIXED = 3;
inline constexpr DWORD DRIVE_REMOTE = 4;
inline constexpr DWORD DRIVE_CDROM = 5;
inline constexpr DWORD DRIVE_RAMDISK = 6;

// MessageBeep types and error modes.
inline constexpr DWORD MB_ICONASTERISK = 0x40;
inline constexpr DWORD SEM_FAILCRITICALERRORS = 0x0001;
inline constexpr DWORD SEM_NOOPENFILEERRORBOX = 0x8000;

// Win32 error codes the program meets.
inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_INVALID_FUNCTION = 1;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_INVALID_DATA = 13;
inline constexpr DWORD ERROR_NOT_SAME_DEVICE = 17;
inline constexpr DWORD ERROR_NO_MORE_FILES = 18;
inline constexpr DWORD ERROR_WRITE_PROTECT = 19;
inline constexpr DWORD ERROR_NOT_READY = 21;
inline constexpr DWORD ERROR_GEN_FAILURE = 31;
inline constexpr DWORD ERROR_SHARING_VIOLATION = 32;
inline constexpr DWORD ERROR_HANDLE_EOF = 38;
inline constexpr DWORD ERROR_NOT_SUPPORTED = 50;
inline constexpr DWORD ERROR_CRC = 23;  // Data error: here, a copy that does not read back as written.
inline constexpr DWORD ERROR_FILE_EXISTS = 80;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_DISK_FULL = 112;
inline constexpr DWORD ERROR_CALL_NOT_IMPLEMENTED = 120;
inline constexpr DWORD ERROR_SEM_TIMEOUT = 121;
inline constexpr DWORD ERROR_INVALID_NAME = 123;
inline constexpr DWORD ERROR_SEEK_ON_DEVICE = 132;
inline constexpr DWORD ERROR_DIR_NOT_EMPTY = 145;
inline constexpr DWORD ERROR_BUSY = 170;
inline constexpr DWORD ERROR_ALREADY_EXISTS = 183;
inline constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr DWORD ERROR_FILE_TOO_LARGE = 223;
inline constexpr DWORD WAIT_TIMEOUT = 258;
inline constexpr DWORD ERROR_DIRECTORY = 267;
inline constexpr DWORD ERROR_INVALID_ADDRESS = 487;
inline constexpr DWORD ERROR_OPERATION_ABORTED = 995;
inline constexpr DWORD ERROR_IO_PENDING = 997;
inline constexpr DWORD ERROR_IO_DEVICE = 1117;
inline constexpr DWORD ERROR_DEVICE_NOT_CONNECTED = 1167;
inline constexpr DWORD ERROR_NOT_FOUND = 1168;
inline constexpr DWORD ERROR_DISK_QUOTA_EXCEEDED = 1295;
inline constexpr DWORD ERROR_CANT_RESOLVE_FILENAME = 1921;

}  // namespace win32
