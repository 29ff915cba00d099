// Threads, locks, a condition and one-time initialisation for the
// launcher's own threads. The C++ library's versions would bring a POSIX
// thread layer into the Windows stub (about a tenth of it); these are thin
// layers over what each system offers:
//   threading_win.cpp    slim reader/writer locks, condition variables,
//                        _beginthreadex and waits on the thread's handle
//   threading_posix.cpp  pthread mutexes and conditions on the monotonic clock
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace qlx {

// A wait without a time limit.
constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

// Room for the system's lock or condition. On both systems the all-zero
// bytes are the free lock and the quiet condition, so a static one works
// before any constructor has run and needs no destructor.
constexpr size_t kSyncObjectSize = 64;

class Lock {
 public:
  constexpr Lock() = default;
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  void lock();
  void unlock();

 private:
  friend class Condition;
  alignas(16) unsigned char state_[kSyncObjectSize] = {};
};

class LockGuard {
 public:
  explicit LockGuard(Lock& lock) : lock_(lock) { lock_.lock(); }
  ~LockGuard() { lock_.unlock(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  Lock& lock_;
};

class Condition {
 public:
  constexpr Condition() = default;
  Condition(const Condition&) = delete;
  Condition& operator=(const Condition&) = delete;

  // Called with `lock` held, returns with it held. A wait may also end
  // without a notification: callers test what they wait for in a loop.
  void wait(Lock& lock);
  // The same for at most timeoutMs; false when that time ran out.
  bool waitFor(Lock& lock, uint32_t timeoutMs);
  void notifyOne();
  void notifyAll();

 private:
  alignas(16) unsigned char state_[kSyncObjectSize] = {};
};

// Runs an initialisation once; a caller that comes while it runs waits for
// its end.
class Once {
 public:
  constexpr Once() = default;

  template <typename Init>
  void run(Init&& init) {
    if (done_.load(std::memory_order_acquire)) return;
    LockGuard guard(lock_);
    if (done_.load(std::memory_order_relaxed)) return;
    init();
    done_.store(true, std::memory_order_release);
  }

 private:
  std::atomic<bool> done_{false};
  Lock lock_;
};

// One thread of the launcher's own. Destroying a Thread that was neither
// joined nor detached lets the thread run on.
class Thread {
 public:
  Thread() = default;
  ~Thread() { detach(); }
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Runs body(argument) on a new thread; false when none could be started.
  bool start(void (*body)(void*), void* argument);
  bool joinable() const { return started_; }
  // Waits up to timeoutMs for the thread's end: true once it has ended
  // (it is then joined), false while it still runs.
  bool join(uint32_t timeoutMs = kWaitForever);
  // The thread runs on by itself and ends with the process.
  void detach();

 private:
  uintptr_t handle_ = 0;
  bool started_ = false;
};

void sleepMs(uint32_t ms);

}  // namespace qlx
