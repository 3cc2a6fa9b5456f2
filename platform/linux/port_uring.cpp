// The completion port on io_uring: every transfer and every posted completion is one
// submission on the port's ring, and the port's wait is the ring's wait for one completion.

#include <liburing.h>

#include <cerrno>
#include <chrono>
#include <deque>
#include <mutex>
#include <unordered_set>

#include "platform/errors.h"
#include "platform/linux/internal.h"
#include "platform/linux/port.h"

namespace win32::detail {

namespace {

// What a submission's user data points at. Cancellations carry no entry: their own
// completions are dropped.
struct Entry {
  enum class Kind { Transfer, Posted };
  Kind kind = Kind::Transfer;
  std::unique_ptr<Request> request;  // Transfer only.
  Completion posted;                 // Posted only.
};

class UringPort final : public Port {
 public:
  ~UringPort() override { Close(); }

  bool Init() {
    if (io_uring_queue_init(16, &ring_, 0) != 0) return false;
    initialized_ = true;
    // The wait needs a time-out that takes no submission slot, so that other threads can
    // post while one waits; and reads and writes at an offset.
    if ((ring_.features & IORING_FEAT_EXT_ARG) == 0) return false;
    io_uring_probe* probe = io_uring_get_probe_ring(&ring_);
    if (probe == nullptr) return false;
    const bool usable = io_uring_opcode_supported(probe, IORING_OP_READ) &&
                        io_uring_opcode_supported(probe, IORING_OP_WRITE) &&
                        io_uring_opcode_supported(probe, IORING_OP_NOP) &&
                        io_uring_opcode_supported(probe, IORING_OP_ASYNC_CANCEL);
    io_uring_free_probe(probe);
    return usable;
  }

  bool Start(std::unique_ptr<Request> request) override {
    auto entry = std::make_unique<Entry>();
    entry->request = std::move(request);
    std::lock_guard guard(submitLock_);
    if (closed_) return Fail(ERROR_INVALID_HANDLE);
    if (!SubmitTransfer(entry.get())) return false;
    pending_.insert(entry.release());
    return true;
  }

  bool Post(DWORD bytes, ULONG_PTR key, OVERLAPPED* overlapped) override {
    // Nobody waits now (a worker posting its own completion between two waits): the next
    // wait takes it from memory, which spares two calls into the kernel for each of the
    // many operations that complete at once.
    if (waitLock_.try_lock()) {
      std::lock_guard waitGuard(waitLock_, std::adopt_lock);
      std::lock_guard guard(submitLock_);
      if (closed_) return Fail(ERROR_INVALID_HANDLE);
      local_.push_back(Completion{bytes, key, overlapped, ERROR_SUCCESS});
      return true;
    }
    auto entry = std::make_unique<Entry>();
    entry->kind = Entry::Kind::Posted;
    entry->posted = Completion{bytes, key, overlapped, ERROR_SUCCESS};
    std::lock_guard guard(submitLock_);
    if (closed_) return Fail(ERROR_INVALID_HANDLE);
    io_uring_sqe* sqe = Slot();
    if (sqe == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    io_uring_prep_nop(sqe);
    io_uring_sqe_set_data(sqe, entry.get());
    const int submitted = io_uring_submit(&ring_);
    if (submitted < 0) return FailErrno(-submitted);
    pending_.insert(entry.release());
    return true;
  }

  std::optional<Completion> Wait(DWORD milliseconds) override {
    std::lock_guard waitGuard(waitLock_);
    {
      std::lock_guard guard(submitLock_);
      if (!local_.empty()) {
        const Completion posted = local_.front();
        local_.pop_front();
        return posted;
      }
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
      io_uring_cqe* cqe = nullptr;
      int result = 0;
      if (milliseconds == INFINITE) {
        result = io_uring_wait_cqe(&ring_, &cqe);
      } else {
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
            deadline - std::chrono::steady_clock::now());
        __kernel_timespec timeout{};
        if (left.count() > 0) {
          timeout.tv_sec = left.count() / 1000000000;
          timeout.tv_nsec = left.count() % 1000000000;
        }
        result = io_uring_wait_cqe_timeout(&ring_, &cqe, &timeout);
      }
      if (result == -EINTR) continue;
      if (result == -ETIME || result == -EAGAIN || result == -EBUSY) {
        if (result != -ETIME && std::chrono::steady_clock::now() < deadline) continue;
        return std::nullopt;
      }
      if (result < 0) {
        FailErrno(-result);
        return std::nullopt;
      }
      auto* entry = static_cast<Entry*>(io_uring_cqe_get_data(cqe));
      const int res = cqe->res;
      io_uring_cqe_seen(&ring_, cqe);
      if (entry == nullptr) continue;  // A cancellation's own completion.
      {
        // The lock orders this thread after the one that filled the entry and submitted it.
        std::lock_guard guard(submitLock_);
        if (entry->kind == Entry::Kind::Posted) {
          pending_.erase(entry);
          std::unique_ptr<Entry> owned(entry);
          return owned->posted;
        }
      }
      int error = 0;
      if (Advance(*entry->request, res, &error) == Step::Again) {
        std::lock_guard guard(submitLock_);
        if (!closed_ && SubmitTransfer(entry)) continue;
        error = ErrnoForError(GetLastError());
        if (error == 0) error = EIO;
      }
      {
        std::lock_guard guard(submitLock_);
        pending_.erase(entry);
      }
      std::unique_ptr<Entry> owned(entry);
      return Finish(*owned->request, error);
    }
  }

  bool Cancel(const FileObject* file, const OVERLAPPED* only) override {
    std::lock_guard guard(submitLock_);
    bool found = false;
    for (Entry* entry : pending_) {
      if (entry->kind != Entry::Kind::Transfer) continue;
      const Request& request = *entry->request;
      if (request.file.get() != file || (only != nullptr && request.overlapped != only)) continue;
      found = true;
      io_uring_sqe* sqe = Slot();
      if (sqe == nullptr) break;
      io_uring_prep_cancel64(sqe, reinterpret_cast<std::uint64_t>(entry), 0);
      io_uring_sqe_set_data(sqe, nullptr);
    }
    if (found) io_uring_submit(&ring_);
    return found;
  }

  void Close() override {
    std::lock_guard waitGuard(waitLock_);
    std::lock_guard guard(submitLock_);
    if (closed_) return;
    closed_ = true;
    if (initialized_) io_uring_queue_exit(&ring_);
    // The ring's end cancels what was in flight; the entries are only ours.
    for (Entry* entry : pending_) delete entry;
    pending_.clear();
    local_.clear();
  }

 private:
  // A free submission slot; submits what is queued when the ring is full. submitLock_ held.
  io_uring_sqe* Slot() {
    io_uring_sqe* sqe = io_uring_get_sqe(&ring_);
    if (sqe == nullptr) {
      io_uring_submit(&ring_);
      sqe = io_uring_get_sqe(&ring_);
    }
    return sqe;
  }

  // Submits the rest of a transfer. submitLock_ held.
  bool SubmitTransfer(Entry* entry) {
    Request& request = *entry->request;
    io_uring_sqe* sqe = Slot();
    if (sqe == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    char* at = request.buffer + request.done;
    const unsigned rest = request.count - request.done;
    // A FIFO or device reads from where it stands (-1), as Windows ignores the offset there.
    const auto offset = request.file->stream ? static_cast<std::uint64_t>(-1)
                                             : static_cast<std::uint64_t>(request.offset + request.done);
    if (request.kind == Request::Kind::Read) {
      io_uring_prep_read(sqe, request.file->fd, at, rest, offset);
    } else {
      io_uring_prep_write(sqe, request.file->fd, at, rest, offset);
    }
    io_uring_sqe_set_data(sqe, entry);
    const int submitted = io_uring_submit(&ring_);
    if (submitted < 0) return FailErrno(-submitted);
    return true;
  }

  io_uring ring_{};
  bool initialized_ = false;
  std::mutex waitLock_;    // One waiter at a time reaps the ring; taken before submitLock_.
  std::mutex submitLock_;  // Guards submissions, pending_, local_ and closed_.
  std::deque<Completion> local_;  // Posted while nobody waited; taken before the ring.
  std::unordered_set<Entry*> pending_;  // Submitted and not yet reaped; owned here.
  bool closed_ = false;
};

}  // namespace

std::shared_ptr<Port> CreateUringPort() {
  auto port = std::make_shared<UringPort>();
  if (!port->Init()) return nullptr;
  return port;
}

}  // namespace win32::detail
