#pragma once

// The completion port back ends and the transfer policy they share.

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/linux/handles.h"
#include "platform/types.h"

namespace win32::detail {

struct Request {
  enum class Kind { Read, Write };
  Kind kind = Kind::Read;
  std::shared_ptr<FileObject> file;
  char* buffer = nullptr;
  DWORD count = 0;
  DWORD done = 0;  // Bytes transferred so far.
  std::int64_t offset = 0;
  OVERLAPPED* overlapped = nullptr;
  ULONG_PTR key = 0;
};

struct Completion {
  DWORD bytes = 0;
  ULONG_PTR key = 0;
  OVERLAPPED* overlapped = nullptr;
  DWORD error = ERROR_SUCCESS;
  const FileObject* file = nullptr;  // Whose transfer this was; compared, never followed.
};

class Port {
 public:
  virtual ~Port() = default;
  // Starts a transfer; false with the last error set when it cannot start (no completion).
  virtual bool Start(std::unique_ptr<Request> request) = 0;
  virtual bool Post(DWORD bytes, ULONG_PTR key, OVERLAPPED* overlapped) = 0;
  // One completion, or none after the time-out.
  virtual std::optional<Completion> Wait(DWORD milliseconds) = 0;
  // Asks the kernel to abandon the file's transfers (only the one with that record when
  // given); true when one was in flight or its completion is still waiting to be taken.
  // Its completion still arrives.
  virtual bool Cancel(const FileObject* file, const OVERLAPPED* only) = 0;
  // Ends the port; transfers still in flight finish in the background.
  virtual void Close() = 0;
};

// Null when the kernel refuses io_uring or lacks what the port needs.
std::shared_ptr<Port> CreateUringPort();
std::shared_ptr<Port> CreateHelperPort();

// The transfer policy, in one place. A read ends at the end of the file: a short read is
// its final result, and the part of the buffer it did not fill is zeroed (a FIFO or device
// is read until the count is met or a read returns nothing). A write goes on
// until every byte is written or the file system refuses (a full disk fails the write).
// Interrupted and would-block results are repeated.

// Whether a transfer result (bytes, or -errno) is final or asks for another attempt.
enum class Step { Again, Done };
Step Advance(Request& request, long result, int* error);

// Runs a transfer to its end on the calling thread; returns errno, or 0.
int RunTransfer(Request& request);

// The completion of a finished transfer; records status and bytes in its overlapped record.
Completion Finish(Request& request, int error);

}  // namespace win32::detail
