// The VM gate: who may enter, and what closing waits for. Without a VM to
// detach from, the gate never calls one: made-up addresses stand for VMs.
#include "vm/vm_gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace qlx {
namespace {

JavaVM* fakeVm(uintptr_t n) { return reinterpret_cast<JavaVM*>(n * 64); }

std::atomic<int> gListenerCalls{0};
void countClosing() { ++gListenerCalls; }

TEST(VmGate, EntriesAreRefusedOnceClosingBegins) {
  VmGate gate;
  struct Row {
    const char* when;
    JavaVM* vm;
    VmGate::Entry expected;
  };
  const Row beforeOpen[] = {{"nothing open", fakeVm(1), VmGate::Entry::Foreign},
                            {"no VM", nullptr, VmGate::Entry::Foreign}};
  for (const Row& row : beforeOpen) EXPECT_EQ(gate.enter(row.vm, false), row.expected) << row.when;

  gate.open(fakeVm(1));
  gate.addClosingListener(countClosing);
  gate.addClosingListener(countClosing);  // once is enough
  EXPECT_EQ(gate.enter(fakeVm(1), false), VmGate::Entry::Entered);
  EXPECT_EQ(gate.enter(fakeVm(2), false), VmGate::Entry::Foreign);
  EXPECT_TRUE(gate.occupied());
  gate.leave(false, nullptr);
  EXPECT_FALSE(gate.occupied());

  // A daemon thread that never leaves holds up the close only for its bound,
  // and keeps the gate occupied (the library must stay).
  EXPECT_EQ(gate.enter(fakeVm(1), true), VmGate::Entry::Entered);
  const auto begin = std::chrono::steady_clock::now();
  gate.close(fakeVm(1), 200);
  const auto waited = std::chrono::steady_clock::now() - begin;
  EXPECT_GE(waited, std::chrono::milliseconds(190));
  EXPECT_LT(waited, std::chrono::seconds(5));
  EXPECT_EQ(gListenerCalls.load(), 1);
  EXPECT_TRUE(gate.occupied());

  const Row afterClose[] = {{"the closed VM", fakeVm(1), VmGate::Entry::Refused},
                            {"as a daemon", fakeVm(1), VmGate::Entry::Refused},
                            {"another VM", fakeVm(3), VmGate::Entry::Foreign}};
  for (const Row& row : afterClose) EXPECT_EQ(gate.enter(row.vm, true), row.expected) << row.when;
  gate.leave(true, nullptr);
  EXPECT_FALSE(gate.occupied());
  gate.close(fakeVm(1), 0);  // repeated: nothing more happens
  EXPECT_EQ(gListenerCalls.load(), 1);
}

TEST(VmGate, CloseWaitsForEveryNonDaemonThreadInside) {
  VmGate gate;
  gate.open(fakeVm(5));
  ASSERT_EQ(gate.enter(fakeVm(5), false), VmGate::Entry::Entered);
  std::atomic<bool> left{false};
  std::thread inside([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    left = true;
    gate.leave(false, nullptr);
  });
  gate.close(fakeVm(5), 0);
  EXPECT_TRUE(left.load());
  EXPECT_FALSE(gate.occupied());
  inside.join();
}

}  // namespace
}  // namespace qlx
