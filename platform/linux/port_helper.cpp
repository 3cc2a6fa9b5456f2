// The completion port for kernels that refuse io_uring: one helper thread per port runs the
// transfers in order and queues their completions under a lock.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <thread>

#include "platform/errors.h"
#include "platform/linux/internal.h"
#include "platform/linux/port.h"

namespace win32::detail {

namespace {

// Shared by the port and its thread, so that a closed port's thread can finish a transfer
// that is still running and then end on its own.
struct HelperState {
  std::mutex lock;  // Guards every field below.
  std::condition_variable workArrived;
  std::condition_variable completionArrived;
  std::deque<std::unique_ptr<Request>> work;
  std::deque<Completion> completions;
  const Request* running = nullptr;
  bool closed = false;
};

void Run(std::shared_ptr<HelperState> state) {
  std::unique_lock lock(state->lock);
  for (;;) {
    state->workArrived.wait(lock, [&] { return state->closed || !state->work.empty(); });
    // A closed port starts nothing more: whoever owns the buffers may free them now.
    if (state->closed) return;
    std::unique_ptr<Request> request = std::move(state->work.front());
    state->work.pop_front();
    state->running = request.get();
    lock.unlock();
    const int error = RunTransfer(*request);
    const Completion completion = Finish(*request, error);
    lock.lock();
    state->running = nullptr;
    state->completions.push_back(completion);
    state->completionArrived.notify_all();
  }
}

class HelperPort final : public Port {
 public:
  HelperPort() : state_(std::make_shared<HelperState>()) {
    std::thread(Run, state_).detach();
  }
  ~HelperPort() override { Close(); }

  bool Start(std::unique_ptr<Request> request) override {
    std::lock_guard guard(state_->lock);
    if (state_->closed) return Fail(ERROR_INVALID_HANDLE);
    state_->work.push_back(std::move(request));
    state_->workArrived.notify_one();
    return true;
  }

  bool Post(DWORD bytes, ULONG_PTR key, OVERLAPPED* overlapped) override {
    std::lock_guard guard(state_->lock);
    state_->completions.push_back(Completion{bytes, key, overlapped, ERROR_SUCCESS});
    state_->completionArrived.notify_all();
    return true;
  }

  std::optional<Completion> Wait(DWORD milliseconds) override {
    std::unique_lock lock(state_->lock);
    const auto ready = [&] { return !state_->completions.empty(); };
    if (milliseconds == INFINITE) {
      state_->completionArrived.wait(lock, ready);
    } else if (!state_->completionArrived.wait_for(lock, std::chrono::milliseconds(milliseconds), ready)) {
      return std::nullopt;
    }
    Completion completion = state_->completions.front();
    state_->completions.pop_front();
    return completion;
  }

  bool Cancel(const FileObject* file, const OVERLAPPED* only) override {
    std::lock_guard guard(state_->lock);
    bool found = false;
    for (auto it = state_->work.begin(); it != state_->work.end();) {
      Request& request = **it;
      if (request.file.get() == file && (only == nullptr || request.overlapped == only)) {
        Completion completion = Finish(request, ECANCELED);
        state_->completions.push_back(completion);
        it = state_->work.erase(it);
        found = true;
      } else {
        ++it;
      }
    }
    // A transfer that has ended but whose completion nobody took yet still counts: whoever
    // cancels must take that completion off the port before the next one.
    for (const Completion& completion : state_->completions) {
      if (completion.file == file && (only == nullptr || completion.overlapped == only)) found = true;
    }
    // A transfer already running cannot be stopped; its completion comes when it ends.
    const Request* running = state_->running;
    if (running != nullptr && running->file.get() == file && (only == nullptr || running->overlapped == only)) {
      found = true;
    }
    if (found) state_->completionArrived.notify_all();
    return found;
  }

  void Close() override {
    std::lock_guard guard(state_->lock);
    state_->closed = true;
    state_->workArrived.notify_all();
  }

 private:
  std::shared_ptr<HelperState> state_;
};

}  // namespace

std::shared_ptr<Port> CreateHelperPort() { return std::make_shared<HelperPort>(); }

}  // namespace win32::detail
