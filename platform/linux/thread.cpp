#include "platform/thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <thread>
#include <vector>

namespace win32 {

namespace {

// Every thread a TThread started, so that the program can wait for them at its end.
struct Registry {
  std::mutex lock;  // Guards every field.
  std::condition_variable ended;
  std::map<std::uint64_t, std::thread> threads;
  std::vector<std::uint64_t> finished;  // Left their body, not yet joined.
  std::size_t running = 0;
  std::uint64_t next = 0;
};

Registry& Threads() {
  static Registry* registry = new Registry;  // Outlives every thread, by design.
  return *registry;
}

int NiceOf(ThreadPriority priority) { return priority == ThreadPriority::AboveNormal ? -1 : 0; }

}  // namespace

TThread::TThread() = default;

namespace {

// Joins the registered thread with that id, unless someone already did.
void Join(std::uint64_t id) {
  Registry& registry = Threads();
  std::thread thread;
  {
    std::lock_guard guard(registry.lock);
    auto it = registry.threads.find(id);
    // A thread cannot join itself; Start or WaitForAll joins it once it has ended.
    if (it == registry.threads.end() || it->second.get_id() == std::this_thread::get_id()) return;
    thread = std::move(it->second);
    registry.threads.erase(it);
    std::erase(registry.finished, id);
  }
  if (thread.joinable()) thread.join();
}

}  // namespace

// A thread that does not free itself must have ended before its object goes; joining here
// keeps its system thread from leaking.
TThread::~TThread() {
  if (started_ && !freeOnTerminate_) Join(id_);
}

void TThread::Start() {
  Registry& registry = Threads();
  std::vector<std::thread> ended;
  {
    std::lock_guard guard(registry.lock);
    started_ = true;
    // Threads that ended since the last start are joined here, so their stacks go.
    for (std::uint64_t id : registry.finished) {
      auto it = registry.threads.find(id);
      if (it == registry.threads.end()) continue;  // Detached by an earlier WaitForAll.
      ended.push_back(std::move(it->second));
      registry.threads.erase(it);
    }
    registry.finished.clear();
    const std::uint64_t id = registry.next++;
    id_ = id;
    ++registry.running;
    registry.threads.emplace(id, std::thread(&TThread::Trampoline, this, id));
  }
  for (std::thread& thread : ended) {
    if (thread.joinable()) thread.join();
  }
}

void TThread::Trampoline(TThread* self, std::uint64_t id) {
  self->tid_.store(static_cast<int>(::syscall(SYS_gettid)), std::memory_order_release);
  {
    std::lock_guard guard(self->pauseLock_);
    if (self->priority_ != ThreadPriority::Normal) {
      ::setpriority(PRIO_PROCESS, static_cast<id_t>(self->tid_.load()), NiceOf(self->priority_));
    }
  }
  self->Execute();
  // Whoever raised the flag has left the lock before the object may go.
  { std::lock_guard guard(self->pauseLock_); }
  self->DoTerminate();  // May free self.
  Registry& registry = Threads();
  std::lock_guard guard(registry.lock);
  registry.finished.push_back(id);
  --registry.running;
  registry.ended.notify_all();
}

void TThread::DoTerminate() {
  if (freeOnTerminate_) {
    delete this;
    return;
  }
  std::lock_guard guard(pauseLock_);
  finished_ = true;
  pauseChanged_.notify_all();
}

void TThread::Terminate() {
  std::lock_guard guard(pauseLock_);
  terminated_.store(true, std::memory_order_release);
  pauseChanged_.notify_all();
}

void TThread::SetPriority(ThreadPriority priority) {
  std::lock_guard guard(pauseLock_);
  priority_ = priority;
  const int tid = tid_.load(std::memory_order_acquire);
  if (tid != 0) ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), NiceOf(priority));
}

void TThread::Suspend() {
  std::lock_guard guard(pauseLock_);
  suspended_ = true;
}

void TThread::Resume() {
  std::lock_guard guard(pauseLock_);
  suspended_ = false;
  pauseChanged_.notify_all();
}

bool TThread::Suspended() const {
  std::lock_guard guard(pauseLock_);
  return suspended_;
}

bool TThread::Parked() const {
  std::lock_guard guard(pauseLock_);
  return parked_;
}

void TThread::Park() {
  std::unique_lock lock(pauseLock_);
  if (!suspended_ || Terminated()) return;
  parked_ = true;
  pauseChanged_.notify_all();
  pauseChanged_.wait(lock, [&] { return !suspended_ || Terminated(); });
  parked_ = false;
}

bool TThread::WaitFor(DWORD milliseconds) {
  {
    std::unique_lock lock(pauseLock_);
    if (!started_) return true;
    if (!pauseChanged_.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return finished_; })) return false;
  }
  Join(id_);
  return true;
}

bool TThread::WaitForAll(DWORD milliseconds) {
  Registry& registry = Threads();
  std::vector<std::thread> ended;
  bool all = false;
  {
    std::unique_lock lock(registry.lock);
    all = registry.ended.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                  [&] { return registry.running == 0; });
    for (std::uint64_t id : registry.finished) {
      auto it = registry.threads.find(id);
      if (it == registry.threads.end()) continue;
      ended.push_back(std::move(it->second));
      registry.threads.erase(it);
    }
    registry.finished.clear();
    // Those still running are left to end on their own.
    for (auto& [id, thread] : registry.threads) thread.detach();
    registry.threads.clear();
  }
  for (std::thread& thread : ended) {
    if (thread.joinable()) thread.join();
  }
  return all;
}

void Sleep(DWORD milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

}  // namespace win32
