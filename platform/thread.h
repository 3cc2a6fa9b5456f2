#pragma once

// A worker thread object: terminate flag, free-on-terminate, priority and a pause that
// parks the thread only where its body asks for it (the top of its loop).

#include <atomic>
#include <cstdint>
#include <condition_variable>
#include <mutex>

#include "platform/types.h"

namespace win32 {

enum class ThreadPriority { Normal, AboveNormal };

class TThread {
 public:
  TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;
  virtual ~TThread();

  // Starts the thread; the most derived constructor calls it last, so Execute never runs
  // on a half-built object.
  void Start();

  // Raises the terminated flag and wakes a parked thread, which then returns from Park.
  // A thread that frees itself may be gone as soon as this returns.
  virtual void Terminate();
  bool Terminated() const { return terminated_.load(std::memory_order_acquire); }

  void SetFreeOnTerminate(bool value) { freeOnTerminate_ = value; }
  // Best effort: an ordinary user may not raise a thread's priority.
  void SetPriority(ThreadPriority priority);

  // Suspending only asks the thread to park at its next Park call; resuming wakes it.
  // Suspending a suspended thread, or resuming a running one, changes nothing.
  void Suspend();
  void Resume();
  bool Suspended() const;
  // True while the thread sits parked in Park.
  bool Parked() const;

  // Waits for a thread that does not free itself. False after the time-out.
  bool WaitFor(DWORD milliseconds);

  // Waits up to milliseconds until every thread started by this process has ended, and
  // joins them. False when some were still running (those are left detached).
  static bool WaitForAll(DWORD milliseconds);

 protected:
  virtual void Execute() = 0;
  // Called on the thread after Execute returns; the default frees the object when
  // free-on-terminate is set. Nothing touches the object after it returns.
  virtual void DoTerminate();
  // Parks the calling thread while it is suspended and not terminated.
  void Park();

 public:
  // The kernel's id of the thread (0 before it runs), for per-thread CPU figures.
  int SystemThreadId() const { return tid_.load(std::memory_order_acquire); }

 protected:

 private:
  static void Trampoline(TThread* self, std::uint64_t id);

  std::atomic<bool> terminated_{false};
  bool freeOnTerminate_ = false;  // Set before Start; read by the thread at its end.
  std::atomic<int> tid_{0};
  ThreadPriority priority_ = ThreadPriority::Normal;  // Guarded by pauseLock_.

  mutable std::mutex pauseLock_;  // Guards suspended_, parked_ and finished_.
  std::condition_variable pauseChanged_;
  bool suspended_ = false;
  bool parked_ = false;
  bool finished_ = false;
  bool started_ = false;  // Written by Start only.
  std::uint64_t id_ = 0;  // Registry entry; written by Start only.
};

// Sleeps the calling thread.
void Sleep(DWORD milliseconds);

}  // namespace win32
