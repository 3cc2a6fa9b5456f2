#pragma once

// Files and folders in the shape of the Windows file services. Paths are system paths
// (see strings.h); handles come from the platform's handle table.

#include <cstdint>
#include <string_view>

#include "platform/types.h"

namespace win32 {

// Honours the access, share (within this process), disposition and flag values:
// NO_BUFFERING opens O_DIRECT (without it where the file system refuses it), OVERLAPPED makes
// ReadFile/WriteFile asynchronous through the handle's completion port, BACKUP_SEMANTICS
// allows folders, SEQUENTIAL_SCAN/RANDOM_ACCESS advise the kernel, WRITE_THROUGH is O_DSYNC,
// DELETE_ON_CLOSE unlinks at close. CREATE_ALWAYS on an existing file truncates it.
// "\\.\X:" opens the volume of drive X (its mount root), for FlushFileBuffers only.
HANDLE CreateFileW(std::u16string_view path, DWORD access, DWORD share, const void* security,
                   DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile);

// On an overlapped handle associated with a port these start the transfer at the record's
// offset and return false with ERROR_IO_PENDING; the completion arrives on the port. They
// return false with another error when the transfer cannot start (no completion then).
// On other handles they transfer synchronously at the file pointer, whole counts only.
bool ReadFile(HANDLE file, void* buffer, DWORD count, DWORD* done, OVERLAPPED* overlapped);
bool WriteFile(HANDLE file, const void* buffer, DWORD count, DWORD* done,
               OVERLAPPED* overlapped);

bool CloseHandle(HANDLE handle);
// Cancels every transfer in flight on the file; their completions still reach the port,
// with ERROR_OPERATION_ABORTED unless they finished first.
bool CancelIo(HANDLE file);
// Cancels the one transfer started with this record; false with ERROR_NOT_FOUND when none
// is in flight.
bool CancelIoEx(HANDLE file, OVERLAPPED* overlapped);

DWORD SetFilePointer(HANDLE file, std::int32_t distanceLow, std::int32_t* distanceHigh,
                     DWORD moveMethod);
// Sets the length to the file pointer; growing reserves the space (fallocate) where the
// file system supports it.
bool SetEndOfFile(HANDLE file);
bool GetFileSizeEx(HANDLE file, std::int64_t* size);
// A file: its data and metadata reach the device (fsync). A volume: everything written to
// it does (syncfs, then an fsync of its root, which a FUSE file system such as exfat-fuse
// needs to write out its own buffers).
bool FlushFileBuffers(HANDLE file);
// Not a Windows service: drops the file's clean pages from the page cache, so that a copy
// leaves no cache behind. Pages not yet written out are kept.
bool DiscardFileCache(HANDLE file);
// Not a Windows service: drops the file's clean pages and starts reading it anew from the
// device in the background, so that a later read gets what the device holds without waiting
// for each file in turn.
bool RefreshFileCache(HANDLE file);
// FILE_TYPE_DISK for files and folders, FILE_TYPE_PIPE for FIFOs and sockets,
// FILE_TYPE_CHAR for devices.
DWORD GetFileType(HANDLE file);
// Last access and last write are applied; Linux cannot set a creation time.
bool SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* lastAccess,
                 const FILETIME* lastWrite);

// Attributes: 0x10 folder, 0x01 read-only (the owner has no write permission), 0x02 hidden
// (the name begins with a dot), 0x20 archive for regular files, 0x40 for FIFOs, sockets and
// devices, 0x400 for symbolic links, 0x80 when no other bit is set.
DWORD GetFileAttributesW(std::u16string_view path);
bool GetFileAttributesExW(std::u16string_view path, WIN32_FILE_ATTRIBUTE_DATA* data);
// Applies read-only to files and accepts the other bits. On folders read-only is accepted
// but not applied: on Windows it does not stop files from being created in the folder.
bool SetFileAttributesW(std::u16string_view path, DWORD attributes);

// Refuses folders and read-only files (ERROR_ACCESS_DENIED) and files this process holds
// open without FILE_SHARE_DELETE (ERROR_SHARING_VIOLATION), as Windows does.
bool DeleteFileW(std::u16string_view path);
bool RemoveDirectoryW(std::u16string_view path);
// Creates the folder with all its missing ancestors; true when it exists afterwards.
bool ForceDirectories(std::u16string_view path);

// The last part of the pattern may hold "*" and "?" ("*.*" matches every name); without
// them the search finds the named entry itself. Folder searches include "." and "..".
HANDLE FindFirstFileW(std::u16string_view pattern, WIN32_FIND_DATAW* data);
bool FindNextFileW(HANDLE find, WIN32_FIND_DATAW* data);
bool FindClose(HANDLE find);

// The volume and file numbers that name a file or folder (what Windows gives as the volume
// serial and the file index), following symbolic links: two paths with the same pair reach
// the same folder, however they got there. `mount`, when given, receives the number of the
// mount the path's content is reached through: a folder that another file system (or a bind
// mount) is mounted on has the number of that mount, not of the folder around it.
bool GetFileIdentity(std::u16string_view path, std::uint64_t* volume, std::uint64_t* file,
                     std::uint64_t* mount = nullptr);

// UTC calendar fields of a file time.
bool FileTimeToSystemTime(const FILETIME* time, SYSTEMTIME* fields);

}  // namespace win32
