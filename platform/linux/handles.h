#pragma once

// The handle table: every HANDLE the platform gives out names one object here. Handle values
// are never reused, so a stale handle fails instead of reaching another object.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/types.h"

namespace win32::detail {

class Port;

struct Object {
  virtual ~Object() = default;
};

// An open file or folder. The descriptor closes when the last reference goes: a transfer
// still in flight keeps the file alive after CloseHandle.
struct FileObject : Object {
  ~FileObject() override;

  int fd = -1;
  std::string path;
  DWORD access = 0;
  DWORD share = 0;
  DWORD flags = 0;
  bool overlapped = false;
  bool direct = false;
  bool directory = false;
  bool stream = false;  // A FIFO or device: transfers ignore the offset.
  bool volume = false;
  DWORD type = FILE_TYPE_DISK;  // What GetFileType answers, known at the open.  // A drive's mount root opened as "\\.\X:".
  dev_t device = 0;
  ino_t inode = 0;
  std::uint64_t shareId = 0;  // Entry in the share table while the handle is open.

  std::mutex lock;  // Guards pointer, port and key.
  std::int64_t pointer = 0;
  std::shared_ptr<Port> port;
  ULONG_PTR key = 0;
};

struct PortObject : Object {
  std::shared_ptr<Port> port;
};

HANDLE InsertHandle(std::shared_ptr<Object> object);
std::shared_ptr<Object> LookupHandle(HANDLE handle);
std::shared_ptr<Object> RemoveHandle(HANDLE handle);

template <class T>
std::shared_ptr<T> Lookup(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

// Called by CloseHandle for each kind of object.
bool CloseFileObject(const std::shared_ptr<FileObject>& file);
bool CloseFindObject(const std::shared_ptr<Object>& find);

}  // namespace win32::detail
