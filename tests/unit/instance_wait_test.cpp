// How long a started receiver waits for a change: without a time limit when
// it has nothing to watch (an idle instance must cost nothing), bounded
// while a chunk, a partial message, a queued message or an owner that
// cannot wake it needs a look now and then. And the slot that every
// instance looks at: a chunk is dropped only while it is still the one seen.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "instances/instance_channel.h"

namespace qlx {
namespace {

constexpr uint32_t kOwn = 100;
constexpr uint32_t kOther = 500;
constexpr uint32_t kEnded = 300;

// Records every wait and blocks in it until woken, as a quiet system would.
struct WaitingPlatform : InstancePlatform {
  InstanceTable* memory;
  std::set<uint32_t> alive{kOwn, kOther, 600};
  bool ownerWatched = false;
  std::mutex lock;
  std::condition_variable changed;
  std::vector<uint32_t> waits;
  bool woken = false;
  bool slotMutex = false;
  // Another instance's turn, once: at this instance's next look at an ended
  // process or at the slot mutex, as a rival that got there first.
  std::function<void()> rival;

  explicit WaitingPlatform(InstanceTable* table) : memory(table) {}
  InstanceTable* table() override { return memory; }
  uint32_t ownProcessId() override { return kOwn; }
  bool isAlive(uint32_t id) override {
    if (id == kEnded) rivalTurn();
    return alive.count(id) != 0;
  }
  bool hasSyncObjects() override { return true; }
  void createSyncObjects() override {}
  void publishedValues(uint64_t& m, uint64_t& e) override { m = 1, e = 2; }
  void attachOwner(uint32_t, uint64_t, uint64_t) override {}
  bool attachedOwnerRunning() override { return true; }
  bool watchesOwner() override { return ownerWatched; }
  void detachOwner() override {}
  bool lockSlot() override {
    rivalTurn();
    return slotMutex;
  }
  void unlockSlot() override {}
  void signalChange() override { memory->changeCounter.fetch_add(1); }
  void waitForChange(int32_t, uint32_t timeoutMs) override {
    std::unique_lock<std::mutex> guard(lock);
    waits.push_back(timeoutMs);
    changed.notify_all();
    changed.wait(guard, [this] { return woken; });
    woken = false;
  }
  void wake(uint32_t id) override {
    if (id != kOwn) return;
    std::lock_guard<std::mutex> guard(lock);
    woken = true;
    changed.notify_all();
  }
  void releaseTable() override {}
  void rivalTurn() {
    std::function<void()> turn;
    turn.swap(rival);
    if (turn) turn();
  }

  // The time limit of the receiver's first wait (0 if it never waited).
  uint32_t firstWait() {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait_for(guard, std::chrono::seconds(10), [this] { return !waits.empty(); });
    return waits.empty() ? 0 : waits.front();
  }
};

struct NoHandler : MessageHandler {
  void onMessage(uint32_t, const Bytes&) override {}
};

// Puts chunk 0 of a message from 600 into the slot, as its sender would.
void postIntoSlot(InstanceTable* table, int32_t number, uint32_t target, int32_t rounds,
                  int32_t lastIndex = 0) {
  table->senderProcessId.store(600);
  table->messageSerial.store(static_cast<uint32_t>(number));
  table->chunkNumber.store(number);
  table->chunkIndex.store(0);
  table->lastChunkIndex.store(lastIndex);
  table->messageSize.store(kChunkCapacity * (lastIndex + 1));
  table->chunkLength.store(kChunkCapacity);
  table->waitRounds.store(rounds);
  table->slotBusy.store(1);
  table->targetProcessId.store(target);
}

TEST(InstanceChannel, ReceiverWaitsWithoutLimitOnlyWhenNothingNeedsALook) {
  struct Row {
    const char* what;
    uint32_t owner;      // in the table before this instance registers (0: none)
    bool ownerWatched;   // the owner's end wakes the wait by itself
    bool queued;         // a message waits for the slot
    uint32_t slotFor;    // a chunk in the slot for this id (0: the slot is free)
    int32_t lastIndex;   // of that chunk's message, whose chunk 0 it is
    uint32_t expected;
  } rows[] = {
      {"an idle owner", 0, false, false, 0, 0, kWaitForever},
      {"an idle instance whose owner's end wakes it", kOther, true, false, 0, 0, kWaitForever},
      {"an instance that must look at its owner", kOther, false, false, 0, 0, kReceiverWaitMs},
      {"a message waiting for the slot", 0, false, true, 0, 0, kReceiverWaitMs},
      {"another instance's chunk in the slot", 0, false, false, kOther, 0, kReceiverWaitMs},
      {"the first of two chunks taken", 0, false, false, kOwn, 1, kReceiverWaitMs},
  };
  for (const Row& row : rows) {
    alignas(8) static unsigned char memory[4096];
    std::memset(memory, 0, sizeof(memory));
    InstanceTable* table = tableAt(memory);
    table->ownerProcessId.store(row.owner);
    auto owned = std::make_unique<WaitingPlatform>(table);
    WaitingPlatform& platform = *owned;
    platform.ownerWatched = row.ownerWatched;
    NoHandler handler;
    InstanceChannel channel(std::move(owned));
    if (row.queued) channel.post(kOther, Bytes(16, 1));
    if (row.slotFor != 0) {
      postIntoSlot(table, 7, row.slotFor, 0, row.lastIndex);
      platform.signalChange();
    }
    channel.startReceiver(&handler);
    EXPECT_EQ(platform.firstWait(), row.expected) << row.what;
    if (row.slotFor == kOwn) EXPECT_EQ(table->slotBusy.load(), 0) << "taken: " << row.what;
    EXPECT_TRUE(channel.stop()) << row.what;
  }
}

TEST(InstanceChannel, AChunkIsDroppedOnlyWhileItIsTheOneSeen) {
  // This instance finds a chunk it may drop; before it does, another
  // instance drops it too and posts its next one, which must stay.
  struct Row {
    const char* what;
    uint32_t target;
    int32_t rounds;
  } rows[] = {
      {"a chunk whose target has ended", kEnded, 0},
      {"a chunk that waited too many rounds", kOther, 11},
  };
  for (const Row& row : rows) {
    alignas(8) static unsigned char memory[4096];
    std::memset(memory, 0, sizeof(memory));
    InstanceTable* table = tableAt(memory);
    auto owned = std::make_unique<WaitingPlatform>(table);
    WaitingPlatform& platform = *owned;
    NoHandler handler;
    InstanceChannel channel(std::move(owned));
    platform.slotMutex = true;
    postIntoSlot(table, 1, row.target, row.rounds);
    platform.rival = [table] { postIntoSlot(table, 2, kOther, 0); };
    platform.signalChange();
    channel.startReceiver(&handler);
    platform.firstWait();
    EXPECT_EQ(table->slotBusy.load(), 1) << row.what;
    EXPECT_EQ(table->chunkNumber.load(), 2) << row.what;
    EXPECT_TRUE(channel.stop()) << row.what;
  }
}

}  // namespace
}  // namespace qlx
