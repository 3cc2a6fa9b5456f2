#pragma once

// What an idle worker waits on: anyone who gives it work raises the flag, and the wait ends
// at once instead of at the end of its turn. A flag raised before the wait begins is not
// lost, so work added between the worker's look at its lists and its wait wakes it.

#include <chrono>
#include <condition_variable>
#include <mutex>

class TDespertador {
 public:
  void Despertar() {
    {
      std::lock_guard guard(lock_);
      pendiente_ = true;
    }
    cambio_.notify_all();
  }

  // Until the flag is raised or the time is up; lowers the flag.
  void Esperar(std::chrono::milliseconds tiempo) {
    std::unique_lock lock(lock_);
    cambio_.wait_for(lock, tiempo, [&] { return pendiente_; });
    pendiente_ = false;
  }

 private:
  std::mutex lock_;  // Guards pendiente_. A leaf: nothing is taken under it.
  std::condition_variable cambio_;
  bool pendiente_ = false;
};
