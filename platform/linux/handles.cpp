#include "platform/linux/handles.h"

#include <unistd.h>

#include <unordered_map>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/linux/internal.h"
#include "platform/linux/port.h"

namespace win32 {

namespace detail {

namespace {

std::mutex tableLock;  // Guards handles and nextHandle.
std::unordered_map<HANDLE, std::shared_ptr<Object>> handles;
HANDLE nextHandle = 0x100;

}  // namespace

FileObject::~FileObject() {
  if (fd >= 0) ::close(fd);
}

HANDLE InsertHandle(std::shared_ptr<Object> object) {
  std::lock_guard guard(tableLock);
  const HANDLE handle = nextHandle;
  nextHandle += 4;
  handles.emplace(handle, std::move(object));
  return handle;
}

std::shared_ptr<Object> LookupHandle(HANDLE handle) {
  std::lock_guard guard(tableLock);
  auto it = handles.find(handle);
  return it == handles.end() ? nullptr : it->second;
}

std::shared_ptr<Object> RemoveHandle(HANDLE handle) {
  std::lock_guard guard(tableLock);
  auto it = handles.find(handle);
  if (it == handles.end()) return nullptr;
  auto object = std::move(it->second);
  handles.erase(it);
  return object;
}

}  // namespace detail

bool CloseHandle(HANDLE handle) {
  auto object = detail::RemoveHandle(handle);
  if (!object) return detail::Fail(ERROR_INVALID_HANDLE);
  if (auto file = std::dynamic_pointer_cast<detail::FileObject>(object)) {
    return detail::CloseFileObject(file);
  }
  if (auto port = std::dynamic_pointer_cast<detail::PortObject>(object)) {
    port->port->Close();
    return true;
  }
  return detail::CloseFindObject(object);
}

}  // namespace win32
