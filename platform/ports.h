#pragma once

// I/O completion ports: io_uring instances, or a helper thread per port where the kernel
// refuses io_uring.

#include "platform/types.h"

namespace win32 {

// With file = INVALID_HANDLE_VALUE and existingPort = 0: a new port. Otherwise associates
// the file with existingPort under the key and returns existingPort.
HANDLE CreateIoCompletionPort(HANDLE file, HANDLE existingPort, ULONG_PTR key,
                              DWORD concurrentThreads);

// Waits up to milliseconds for one completion. True for a successful transfer or a posted
// completion. False with *overlapped set when a transfer completed with an error (the last
// error is its code), or with *overlapped null and WAIT_TIMEOUT after the time-out.
bool GetQueuedCompletionStatus(HANDLE port, DWORD* bytes, ULONG_PTR* key,
                               OVERLAPPED** overlapped, DWORD milliseconds);

bool PostQueuedCompletionStatus(HANDLE port, DWORD bytes, ULONG_PTR key,
                                OVERLAPPED* overlapped);

enum class PortBackend { Automatic, IoUring, HelperThreads };

// Which back end ports created from now on use. Automatic takes io_uring when the kernel
// allows it. Choosing IoUring where the kernel refuses it falls back to helper threads.
void SelectPortBackend(PortBackend backend);
// The back end a port created now would get (never Automatic).
PortBackend ActivePortBackend();

}  // namespace win32
