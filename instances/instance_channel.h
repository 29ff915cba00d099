// The instance message channel: moves byte messages between instances
// through the one transfer slot of the shared table, a chunk of at most 1024
// bytes at a time. The receiver thread moves every chunk of this process in
// both directions; complete messages go to the delivery thread, which alone
// calls the handler, so no delivery can hold up the slot. A delivery that
// overruns its bound is left to finish on its thread, and a new thread
// takes the messages after it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "instances/instance_messages.h"
#include "instances/instance_platform.h"
#include "instances/instance_registry.h"
#include "launcher/fifo.h"
#include "launcher/threading.h"

namespace qlx {

class MessageHandler {
 public:
  virtual ~MessageHandler() = default;
  // A complete message from `sender` (header included).
  virtual void onMessage(uint32_t sender, const Bytes& message) = 0;
};

// While this process has a chunk to send, a partial message to finish, a
// busy slot to watch, an owner whose end would not wake it or a delivery
// that may overrun, its receiver wakes at least this often: a lost wake-up
// (PulseEvent reaches only threads waiting at that moment) costs at most
// this long, and held chunks and partial messages age. With none of them
// the receiver waits for a change alone, so an idle instance costs no time.
constexpr uint32_t kReceiverWaitMs = 250;
// The owner counts a chunk's waiting rounds at most once in this time.
constexpr uint64_t kWaitRoundMs = 100;
// How long stop() waits for the receiver and delivery threads to end.
constexpr uint32_t kReceiverJoinMs = 3000;
// A chunk that stays in the slot this long, untaken, is dropped by whichever
// instance sees it so: a target that never takes its chunk, or a claimant
// that never fills the slot, must not stop the messaging of every instance.
constexpr uint64_t kSlotHoldMs = 5000;
// A delivery (reading the object and the receiver's onReceive) that runs
// longer than this no longer holds up the messages after it.
constexpr uint64_t kDeliveryBoundMs = 5000;
// Overrunning deliveries left running at once; past this the messages wait.
constexpr int kMaxStalledDeliveries = 4;

class InstanceChannel {
 public:
  // Registers this process in the table.
  explicit InstanceChannel(std::unique_ptr<InstancePlatform> platform);
  virtual ~InstanceChannel();
  InstanceChannel(const InstanceChannel&) = delete;
  InstanceChannel& operator=(const InstanceChannel&) = delete;

  // Queues a copy for the target and returns at once.
  void post(uint32_t target, Bytes message);
  void startReceiver(MessageHandler* handler);
  bool receiverStarted() const { return started_.load(); }
  // Hands a complete message to the delivery thread again.
  void redeliver(uint32_t sender, Bytes message) { deliver(sender, std::move(message)); }
  bool queueEmpty();
  // The handover of a second launch: the arguments to `target` (the
  // owner), then the wait for the queue (5 s) and for `answered` (50 s).
  void sendArguments(uint32_t target, const StringList& arguments,
                     bool (*answered)(void* context), void* context);
  // Ends the receiver: wakes and joins it. False when it or a delivery did
  // not end within kReceiverJoinMs; the table memory must then stay mapped.
  bool stop();

  uint32_t ownId() { return platform_->ownProcessId(); }
  uint32_t ownerId() { return platform_->table()->ownerProcessId.load(); }
  InstanceRegistry& registry() { return registry_; }
  InstancePlatform& platform() { return *platform_; }

 private:
  struct Outgoing {
    uint32_t target;
    Bytes bytes;
    uint32_t sent = 0;
    uint32_t serial = 0;
  };

  // Complete messages waiting for the delivery thread, which alone runs
  // Java: a slow or hostile message delays only the deliveries after it,
  // and those only up to kDeliveryBoundMs, never the transfer of chunks.
  // Shared with the threads, which may outlive the channel when a delivery
  // never returns.
  struct Deliveries {
    Lock lock;
    Condition ready;
    Fifo<std::pair<uint32_t, Bytes>> messages;
    size_t bytes = 0;
    MessageHandler* handler = nullptr;
    bool stopping = false;
    int generation = 0;        // the thread that takes the next message
    int threads = 0;           // running, overrunning ones included
    int stalled = 0;           // replaced while inside a delivery
    uint64_t busySinceMs = 0;  // the current thread's delivery; 0 when idle
    uint32_t busySender = 0;
    bool limitTold = false;
  };

  void receiverLoop();
  // How long the receiver may wait for a change: kReceiverWaitMs while
  // something needs a look in any case, else kWaitForever.
  uint32_t receiverWaitMs();
  // One pass after a wake-up; `changed` tells a real change from a time-out.
  void pass(bool changed);
  bool takeChunk(uint32_t& sender, Bytes& message);
  // Returns the chunk's target.
  uint32_t postChunk();
  void deliver(uint32_t sender, Bytes message);
  struct HeldChunk {
    int32_t number;
    uint32_t serial, sender, target;
    bool operator==(const HeldChunk& o) const {
      return number == o.number && serial == o.serial && sender == o.sender && target == o.target;
    }
  };
  HeldChunk slotChunk();
  // Frees the slot if it still holds `seen` (and, when `waitedOut`, it has
  // still waited too many rounds); false when it holds another chunk.
  bool dropSlotChunk(const HeldChunk& seen, bool waitedOut);
  // Drops a chunk that has waited in the slot longer than kSlotHoldMs.
  bool releaseHeldSlot();
  // Starts a new delivery thread when the current one overruns its bound.
  void replaceStalledDelivery();
  void startDeliveryThread(int generation);
  // False when a delivery thread is still inside Java.
  bool stopDeliveries();
  static void deliveryLoop(void* start);

  std::unique_ptr<InstancePlatform> platform_;
  InstanceRegistry registry_;
  Lock lock_;  // the outgoing queue
  Fifo<std::unique_ptr<Outgoing>> queue_;
  ChunkAssembler assembler_;
  MessageHandler* handler_ = nullptr;
  int32_t lastSeen_ = 0;
  std::atomic<bool> running_{true};
  std::atomic<bool> started_{false};
  std::atomic<bool> finished_{false};
  Thread thread_;
  // Freed with the channel unless a delivery thread that did not end in
  // time may still use it; it then stays until the process ends.
  Deliveries* deliveries_ = new Deliveries;
  bool deliveriesLeft_ = false;
  // The chunk last seen waiting in the slot, and since when.
  uint64_t lastWaitRoundMs_ = 0;
  HeldChunk held_{};
  uint64_t heldSinceMs_ = 0;
  bool holding_ = false;
};

}  // namespace qlx
