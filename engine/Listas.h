#pragma once

// A list that crosses threads, with a lock of its own. Adding never searches the list, so
// duplicates are kept. Whoever holds the lock must not block on anything else.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

#include "engine/Despertador.h"

template <class T>
class TListaSegura {
 public:
  // Appends under the lock and wakes a thread waiting for an element.
  void Add(T item) {
    {
      std::lock_guard guard(lock_);
      items_.push_back(std::move(item));
    }
    changed_.notify_all();
    if (aviso_ != nullptr) aviso_->Despertar();
  }

  // Whom Add and Desbloquear wake besides a thread in EsperarElemento: the worker that takes
  // from this list. Set once, before any other thread sees the list.
  void Avisar(TDespertador* despertador) { aviso_ = despertador; }

  // Runs f with the items under the lock and returns what f returns.
  template <class F>
  auto Con(F&& f) {
    std::lock_guard guard(lock_);
    return f(items_);
  }
  template <class F>
  auto Con(F&& f) const {
    std::lock_guard guard(lock_);
    return f(items_);
  }

  // Takes every item out in one step.
  std::deque<T> Extraer() {
    std::lock_guard guard(lock_);
    std::deque<T> taken;
    taken.swap(items_);
    return taken;
  }

  // Explicit lock and unlock around a section that spans several calls (the window's
  // LockFList / UnLockFList).
  std::deque<T>& Bloquear() {
    lock_.lock();
    return items_;
  }
  void Desbloquear() {
    lock_.unlock();
    if (aviso_ != nullptr) aviso_->Despertar();
  }

  // Waits, without holding the lock, until the list has an item, Despertar was called, or
  // the time is up.
  void EsperarElemento(std::chrono::milliseconds tiempo) {
    std::unique_lock lock(lock_);
    changed_.wait_for(lock, tiempo, [&] { return !items_.empty() || woken_; });
    woken_ = false;
  }
  void Despertar() {
    {
      std::lock_guard guard(lock_);
      woken_ = true;
    }
    changed_.notify_all();
  }

 private:
  mutable std::mutex lock_;  // Guards items_ and woken_.
  std::condition_variable changed_;
  std::deque<T> items_;
  bool woken_ = false;
  TDespertador* aviso_ = nullptr;  // Set before the list is shared; read-only after.
};
