// The launcher's threads and locks (the pthread side; the Windows side runs
// in every Wine suite): timed waits end by notification or by time, a join
// can give up, an initialisation runs once however many threads ask, and a
// static lock needs no constructor (its zero bytes are the free lock).
#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <cstring>

#include "launcher/threading.h"
#include "launcher/trace.h"

namespace qlx {
namespace {

TEST(Threading, ZeroBytesAreTheSystemsStaticInitialisers) {
  static const pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  static const pthread_cond_t condition = PTHREAD_COND_INITIALIZER;
  static const unsigned char zeros[sizeof(pthread_cond_t)] = {};
  EXPECT_EQ(std::memcmp(&mutex, zeros, sizeof mutex), 0);
  EXPECT_EQ(std::memcmp(&condition, zeros, sizeof condition), 0);
}

struct Shared {
  Lock lock;
  Condition changed;
  bool flag = false;
  std::atomic<bool> release{false};
};

TEST(Threading, TimedWaitsAndJoinsEndByEventOrByTime) {
  Shared shared;
  {
    // Nobody notifies: the wait ends by time, not before it.
    LockGuard guard(shared.lock);
    const uint64_t start = monotonicMs();
    EXPECT_FALSE(shared.changed.waitFor(shared.lock, 50));
    EXPECT_GE(monotonicMs() - start, 40u);
  }
  Thread notifier;
  ASSERT_TRUE(notifier.start(
      [](void* p) {
        Shared& s = *static_cast<Shared*>(p);
        LockGuard guard(s.lock);
        s.flag = true;
        s.changed.notifyAll();
      },
      &shared));
  {
    LockGuard guard(shared.lock);
    while (!shared.flag) ASSERT_TRUE(shared.changed.waitFor(shared.lock, 10000));
  }
  EXPECT_TRUE(notifier.join());
  EXPECT_FALSE(notifier.joinable());

  Thread waiter;
  ASSERT_TRUE(waiter.start(
      [](void* p) {
        while (!static_cast<Shared*>(p)->release.load()) sleepMs(1);
      },
      &shared));
  EXPECT_FALSE(waiter.join(30));  // still running: the join gives up
  EXPECT_TRUE(waiter.joinable());
  shared.release = true;
  EXPECT_TRUE(waiter.join(10000));
}

TEST(Threading, OnceRunsOneInitialisationForManyThreads) {
  static Once once;
  static std::atomic<int> runs{0};
  static std::atomic<int> sawDone{0};
  Thread threads[8];
  for (Thread& t : threads) {
    ASSERT_TRUE(t.start(
        [](void*) {
          once.run([] {
            sleepMs(20);  // others arrive meanwhile and wait
            ++runs;
          });
          if (runs.load() == 1) ++sawDone;
        },
        nullptr));
  }
  for (Thread& t : threads) EXPECT_TRUE(t.join());
  EXPECT_EQ(runs.load(), 1);
  EXPECT_EQ(sawDone.load(), 8);  // none returned before the initialisation ended
}

}  // namespace
}  // namespace qlx
