#include "platform/ports.h"

#include <atomic>

#include "platform/errors.h"
#include "platform/linux/handles.h"
#include "platform/linux/internal.h"
#include "platform/linux/port.h"

namespace win32 {

namespace {

std::atomic<PortBackend> selected{PortBackend::Automatic};

std::shared_ptr<detail::Port> NewPort() {
  if (selected.load() != PortBackend::HelperThreads) {
    if (auto port = detail::CreateUringPort()) return port;
  }
  return detail::CreateHelperPort();
}

std::shared_ptr<detail::Port> PortOf(HANDLE handle) {
  auto object = detail::Lookup<detail::PortObject>(handle);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return object->port;
}

}  // namespace

HANDLE CreateIoCompletionPort(HANDLE file, HANDLE existingPort, ULONG_PTR key, DWORD /*threads*/) {
  if (file == INVALID_HANDLE_VALUE) {
    if (existingPort != 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    auto object = std::make_shared<detail::PortObject>();
    object->port = NewPort();
    return detail::InsertHandle(object);
  }
  auto fileObject = detail::Lookup<detail::FileObject>(file);
  auto port = PortOf(existingPort);
  if (!fileObject || !port) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  std::lock_guard guard(fileObject->lock);
  if (fileObject->port && fileObject->port != port) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  fileObject->port = port;
  fileObject->key = key;
  return existingPort;
}

bool GetQueuedCompletionStatus(HANDLE handle, DWORD* bytes, ULONG_PTR* key, OVERLAPPED** overlapped,
                               DWORD milliseconds) {
  *overlapped = nullptr;
  auto port = PortOf(handle);
  if (!port) return false;
  auto completion = port->Wait(milliseconds);
  if (!completion) return detail::Fail(WAIT_TIMEOUT);
  *bytes = completion->bytes;
  *key = completion->key;
  *overlapped = completion->overlapped;
  if (completion->error != ERROR_SUCCESS) return detail::Fail(completion->error);
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool PostQueuedCompletionStatus(HANDLE handle, DWORD bytes, ULONG_PTR key, OVERLAPPED* overlapped) {
  auto port = PortOf(handle);
  if (!port) return false;
  return port->Post(bytes, key, overlapped);
}

void SelectPortBackend(PortBackend backend) { selected.store(backend); }

PortBackend ActivePortBackend() {
  if (selected.load() == PortBackend::HelperThreads) return PortBackend::HelperThreads;
  return detail::CreateUringPort() != nullptr ? PortBackend::IoUring : PortBackend::HelperThreads;
}

}  // namespace win32
