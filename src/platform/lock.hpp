// A small lock for the system layer's own state. It cannot fail and never throws, so that the
// functions built on it can keep their promise of returning a status instead of raising one.
// Waiters sleep on the flag (C++20 atomic wait) rather than spin.
#pragma once

#include <atomic>

class ksys_lock {
 public:
  constexpr ksys_lock() noexcept = default;
  ksys_lock(const ksys_lock&) = delete;
  ksys_lock& operator=(const ksys_lock&) = delete;

  void lock() noexcept {
    while (held_.exchange(1, std::memory_order_acquire) != 0) held_.wait(1, std::memory_order_relaxed);
  }
  void unlock() noexcept {
    held_.store(0, std::memory_order_release);
    held_.notify_one();
  }

 private:
  std::atomic<int> held_{0};  // an int, so that waiting is a plain futex and not a shared proxy
};

// Holds a ksys_lock for a scope.
class ksys_lockGuard {
 public:
  explicit ksys_lockGuard(ksys_lock& lock) noexcept : lock_(lock) { lock_.lock(); }
  ~ksys_lockGuard() { lock_.unlock(); }
  ksys_lockGuard(const ksys_lockGuard&) = delete;
  ksys_lockGuard& operator=(const ksys_lockGuard&) = delete;

 private:
  ksys_lock& lock_;
};
