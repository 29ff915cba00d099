// Threads and locks on Windows: slim reader/writer locks (taken exclusively),
// condition variables bound to them and _beginthreadex threads. All exist
// from Windows Vista on, and none brings code into the executable beyond a
// call of the system's own.
#include "launcher/threading.h"

#include <process.h>

#include "launcher/win32.h"

namespace qlx {

namespace {

static_assert(sizeof(SRWLOCK) <= kSyncObjectSize && sizeof(CONDITION_VARIABLE) <= kSyncObjectSize,
              "the system's objects fit their room");

SRWLOCK* srwOf(unsigned char* state) { return reinterpret_cast<SRWLOCK*>(state); }
CONDITION_VARIABLE* conditionOf(unsigned char* state) {
  return reinterpret_cast<CONDITION_VARIABLE*>(state);
}

struct Start {
  void (*body)(void*);
  void* argument;
};

unsigned __stdcall threadMain(void* parameter) {
  const Start start = *static_cast<Start*>(parameter);
  delete static_cast<Start*>(parameter);
  start.body(start.argument);
  return 0;
}

}  // namespace

void Lock::lock() { AcquireSRWLockExclusive(srwOf(state_)); }
void Lock::unlock() { ReleaseSRWLockExclusive(srwOf(state_)); }

void Condition::wait(Lock& lock) {
  SleepConditionVariableSRW(conditionOf(state_), srwOf(lock.state_), INFINITE, 0);
}

bool Condition::waitFor(Lock& lock, uint32_t timeoutMs) {
  if (SleepConditionVariableSRW(conditionOf(state_), srwOf(lock.state_), timeoutMs, 0)) return true;
  return GetLastError() != ERROR_TIMEOUT;
}

void Condition::notifyOne() { WakeConditionVariable(conditionOf(state_)); }
void Condition::notifyAll() { WakeAllConditionVariable(conditionOf(state_)); }

bool Thread::start(void (*body)(void*), void* argument) {
  if (started_) return false;
  Start* start = new Start{body, argument};
  const uintptr_t handle = _beginthreadex(nullptr, 0, threadMain, start, 0, nullptr);
  if (handle == 0) {
    delete start;
    return false;
  }
  handle_ = handle;
  started_ = true;
  return true;
}

bool Thread::join(uint32_t timeoutMs) {
  if (!started_) return true;
  if (WaitForSingleObject(reinterpret_cast<HANDLE>(handle_), timeoutMs) != WAIT_OBJECT_0) {
    return false;
  }
  detach();
  return true;
}

void Thread::detach() {
  if (!started_) return;
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = 0;
  started_ = false;
}

void sleepMs(uint32_t ms) { Sleep(ms); }

}  // namespace qlx
