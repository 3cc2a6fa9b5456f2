#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/internal.h"
#include "platform/linux/port.h"

namespace win32::detail {

Step Advance(Request& request, long result, int* error) {
  *error = 0;
  if (result == -EINTR || result == -EAGAIN) return Step::Again;
  if (result < 0) {
    *error = static_cast<int>(-result);
    return Step::Done;
  }
  if (request.kind == Request::Kind::Read) {
    request.done += static_cast<DWORD>(result);
    // A FIFO hands out what it holds; only an empty read is its end.
    const bool more = request.file->stream && result > 0 && request.done < request.count;
    return more ? Step::Again : Step::Done;
  }
  if (result == 0) {
    *error = EIO;
    return Step::Done;
  }
  request.done += static_cast<DWORD>(result);
  return request.done < request.count ? Step::Again : Step::Done;
}

int RunTransfer(Request& request) {
  for (;;) {
    const DWORD rest = request.count - request.done;
    const std::int64_t at = request.offset + request.done;
    const int fd = request.file->fd;
    char* buffer = request.buffer + request.done;
    ssize_t n = 0;
    if (request.file->stream) {
      n = request.kind == Request::Kind::Read ? ::read(fd, buffer, rest) : ::write(fd, buffer, rest);
    } else {
      n = request.kind == Request::Kind::Read ? ::pread(fd, buffer, rest, at) : ::pwrite(fd, buffer, rest, at);
    }
    int error = 0;
    if (Advance(request, n < 0 ? -errno : static_cast<long>(n), &error) == Step::Done) return error;
  }
}

Completion Finish(Request& request, int error) {
  Completion completion;
  completion.bytes = request.done;
  completion.key = request.key;
  completion.overlapped = request.overlapped;
  completion.file = request.file.get();
  completion.error = error == 0 ? ERROR_SUCCESS : ErrorFromErrno(error);
  if (request.kind == Request::Kind::Read && error == 0 && request.done < request.count) {
    std::memset(request.buffer + request.done, 0, request.count - request.done);
  }
  if (request.overlapped != nullptr) {
    request.overlapped->Internal = completion.error;
    request.overlapped->InternalHigh = completion.bytes;
  }
  return completion;
}

}  // namespace win32::detail
