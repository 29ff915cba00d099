// Threads and locks on Linux: pthread mutexes and conditions. Timed waits
// run on the monotonic clock, so a change of the wall clock neither ends
// them early nor stretches them.
#include "launcher/threading.h"

#include <pthread.h>
#include <cerrno>
#include <time.h>

namespace qlx {

namespace {

static_assert(sizeof(pthread_mutex_t) <= kSyncObjectSize &&
                  sizeof(pthread_cond_t) <= kSyncObjectSize,
              "the system's objects fit their room");
static_assert(sizeof(pthread_t) <= sizeof(uintptr_t), "a thread id fits the handle");

pthread_mutex_t* mutexOf(unsigned char* state) { return reinterpret_cast<pthread_mutex_t*>(state); }
pthread_cond_t* conditionOf(unsigned char* state) {
  return reinterpret_cast<pthread_cond_t*>(state);
}

timespec monotonicAfter(uint32_t ms) {
  timespec at;
  clock_gettime(CLOCK_MONOTONIC, &at);
  at.tv_sec += ms / 1000;
  at.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (at.tv_nsec >= 1000000000L) {
    at.tv_sec += 1;
    at.tv_nsec -= 1000000000L;
  }
  return at;
}

struct Start {
  void (*body)(void*);
  void* argument;
};

void* threadMain(void* parameter) {
  const Start start = *static_cast<Start*>(parameter);
  delete static_cast<Start*>(parameter);
  start.body(start.argument);
  return nullptr;
}

}  // namespace

void Lock::lock() { pthread_mutex_lock(mutexOf(state_)); }
void Lock::unlock() { pthread_mutex_unlock(mutexOf(state_)); }

void Condition::wait(Lock& lock) { pthread_cond_wait(conditionOf(state_), mutexOf(lock.state_)); }

bool Condition::waitFor(Lock& lock, uint32_t timeoutMs) {
  if (timeoutMs == kWaitForever) {
    wait(lock);
    return true;
  }
  const timespec at = monotonicAfter(timeoutMs);
  return pthread_cond_clockwait(conditionOf(state_), mutexOf(lock.state_), CLOCK_MONOTONIC, &at) !=
         ETIMEDOUT;
}

void Condition::notifyOne() { pthread_cond_signal(conditionOf(state_)); }
void Condition::notifyAll() { pthread_cond_broadcast(conditionOf(state_)); }

bool Thread::start(void (*body)(void*), void* argument) {
  if (started_) return false;
  Start* start = new Start{body, argument};
  pthread_t thread;
  if (pthread_create(&thread, nullptr, threadMain, start) != 0) {
    delete start;
    return false;
  }
  handle_ = static_cast<uintptr_t>(thread);
  started_ = true;
  return true;
}

bool Thread::join(uint32_t timeoutMs) {
  if (!started_) return true;
  const pthread_t thread = static_cast<pthread_t>(handle_);
  if (timeoutMs == kWaitForever) {
    pthread_join(thread, nullptr);
  } else {
    const timespec at = monotonicAfter(timeoutMs);
    if (pthread_clockjoin_np(thread, nullptr, CLOCK_MONOTONIC, &at) != 0) return false;
  }
  handle_ = 0;
  started_ = false;
  return true;
}

void Thread::detach() {
  if (!started_) return;
  pthread_detach(static_cast<pthread_t>(handle_));
  handle_ = 0;
  started_ = false;
}

void sleepMs(uint32_t ms) {
  timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace qlx
