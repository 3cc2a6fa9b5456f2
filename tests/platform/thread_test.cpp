#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "platform/thread.h"

using namespace win32;
using namespace std::chrono_literals;

namespace {

// A loop like a worker's: park at the top, then one turn inside a lock.
class Turner : public TThread {
 public:
  explicit Turner(std::atomic<bool>* destroyed = nullptr) : destroyed_(destroyed) {}
  ~Turner() override {
    if (destroyed_ != nullptr) destroyed_->store(true);
  }
  std::mutex lock;
  std::atomic<long> turns{0};

 protected:
  void Execute() override {
    while (!Terminated()) {
      Park();
      std::lock_guard guard(lock);
      turns.fetch_add(1);
      std::this_thread::sleep_for(1ms);
    }
  }

 private:
  std::atomic<bool>* destroyed_;
};

template <class F>
bool Eventually(F condition) {
  for (int i = 0; i < 500; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return condition();
}

TEST(WorkerThread, PausedThreadParksBetweenTurnsAndResumesWhereItStopped) {
  Turner thread;
  thread.Start();
  ASSERT_TRUE(Eventually([&] { return thread.turns.load() > 3; }));
  thread.Suspend();
  thread.Suspend();  // Twice changes nothing.
  EXPECT_TRUE(thread.Suspended());
  ASSERT_TRUE(Eventually([&] { return thread.Parked(); }));
  // Parked means outside the lock: the window could take it now.
  ASSERT_TRUE(thread.lock.try_lock());
  thread.lock.unlock();
  const long stopped = thread.turns.load();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(thread.turns.load(), stopped);
  thread.Resume();
  thread.Resume();
  EXPECT_FALSE(thread.Suspended());
  ASSERT_TRUE(Eventually([&] { return thread.turns.load() > stopped + 3; }));
  thread.Terminate();
  EXPECT_TRUE(thread.WaitFor(5000));
}

TEST(WorkerThread, TerminateWakesAParkedThread) {
  Turner thread;
  thread.Start();
  thread.Suspend();
  ASSERT_TRUE(Eventually([&] { return thread.Parked(); }));
  thread.Terminate();
  EXPECT_TRUE(thread.WaitFor(5000));
}

TEST(WorkerThread, FreeOnTerminateDestroysTheObjectOnItsOwnThread) {
  std::atomic<bool> destroyed{false};
  auto* thread = new Turner(&destroyed);
  thread->SetFreeOnTerminate(true);
  thread->SetPriority(ThreadPriority::AboveNormal);  // Best effort; must not get in the way.
  thread->Start();
  ASSERT_TRUE(Eventually([&] { return thread->turns.load() > 0; }));
  thread->Terminate();
  EXPECT_TRUE(TThread::WaitForAll(5000));
  EXPECT_TRUE(destroyed.load());
}

}  // namespace
