// The channel's transfer loop. Only the receiver thread touches the slot;
// Java threads only queue. Sleeps appear only where the caller is meant to
// wait (handover, flush), never on the transfer path.
#include "instances/instance_channel.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "launcher/text.h"
#include "launcher/trace.h"

namespace qlx {

namespace {

uint64_t nowMs() { return monotonicMs(); }

// What a new delivery thread starts with.
struct DeliveryStart {
  void* deliveries;
  int generation;
};

}  // namespace

InstanceChannel::InstanceChannel(std::unique_ptr<InstancePlatform> platform)
    : platform_(std::move(platform)), registry_(*platform_) {
  registry_.registerInstance();
  lastSeen_ = platform_->table()->changeCounter.load();
}

InstanceChannel::~InstanceChannel() {
  // A thread that could not be joined may still use the platform: keep it.
  if (!stop()) platform_.release();
  if (!deliveriesLeft_) delete deliveries_;
}

void InstanceChannel::post(uint32_t target, Bytes message) {
  if (!running_.load()) return;  // stopped: the table may be gone
  if (message.empty() || message.size() > kMaxMessageSize) return;  // no receiver would take it
  auto outgoing = std::make_unique<Outgoing>();
  outgoing->target = target;
  outgoing->bytes = std::move(message);
  {
    LockGuard guard(lock_);
    queue_.push_back(std::move(outgoing));
  }
  platform_->signalChange();
  platform_->wake(platform_->ownProcessId());  // the receiver thread transfers it
}

bool InstanceChannel::queueEmpty() {
  LockGuard guard(lock_);
  return queue_.empty();
}

void InstanceChannel::startReceiver(MessageHandler* handler) {
  if (started_.exchange(true)) return;
  handler_ = handler;
  deliveries_->handler = handler;
  startDeliveryThread(0);
  thread_.start([](void* self) { static_cast<InstanceChannel*>(self)->receiverLoop(); }, this);
}

void InstanceChannel::startDeliveryThread(int generation) {
  {
    LockGuard guard(deliveries_->lock);
    ++deliveries_->threads;
  }
  Thread thread;
  auto* start = new DeliveryStart{deliveries_, generation};
  if (thread.start(deliveryLoop, start)) return;  // it runs on by itself
  delete start;
  LockGuard guard(deliveries_->lock);
  --deliveries_->threads;
}

void InstanceChannel::deliveryLoop(void* start) {
  const DeliveryStart begin = *static_cast<DeliveryStart*>(start);
  delete static_cast<DeliveryStart*>(start);
  Deliveries* deliveries = static_cast<Deliveries*>(begin.deliveries);
  const int generation = begin.generation;
  MessageHandler* handler = deliveries->handler;
  LockGuard guard(deliveries->lock);
  for (;;) {
    while (!deliveries->stopping && deliveries->generation == generation &&
           deliveries->messages.empty()) {
      deliveries->ready.wait(deliveries->lock);
    }
    if (deliveries->stopping || deliveries->generation != generation) break;
    std::pair<uint32_t, Bytes> message = std::move(deliveries->messages.front());
    deliveries->messages.pop_front();
    deliveries->busySinceMs = nowMs();
    deliveries->busySender = message.first;
    deliveries->lock.unlock();
    if (handler != nullptr) handler->onMessage(message.first, message.second);
    deliveries->lock.lock();
    deliveries->bytes -= message.second.size();
    if (deliveries->generation != generation) {
      --deliveries->stalled;  // replaced meanwhile: the new thread goes on
      deliveries->limitTold = false;
      break;
    }
    deliveries->busySinceMs = 0;
  }
  --deliveries->threads;
  deliveries->ready.notifyAll();
}

void InstanceChannel::replaceStalledDelivery() {
  uint32_t sender = 0;
  int generation = 0;
  bool atLimit = false;
  {
    LockGuard guard(deliveries_->lock);
    Deliveries& d = *deliveries_;
    if (d.stopping || d.busySinceMs == 0 || nowMs() - d.busySinceMs < kDeliveryBoundMs) return;
    sender = d.busySender;
    if (d.stalled >= kMaxStalledDeliveries) {
      if (d.limitTold) return;
      d.limitTold = atLimit = true;
    } else {
      generation = ++d.generation;
      ++d.stalled;
      d.busySinceMs = 0;
    }
  }
  const std::string line =
      "Instance message from " + decimalText(sender) + ": its delivery has run for " +
      decimalText(kDeliveryBoundMs / 1000) + " s; " +
      (atLimit ? "later messages wait until an overrunning delivery returns\n"
               : "later messages go to a new delivery thread\n");
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  if (!atLimit) startDeliveryThread(generation);
  deliveries_->ready.notifyAll();
}

uint32_t InstanceChannel::receiverWaitMs() {
  InstanceTable& table = *platform_->table();
  const bool ownerUnwatched =
      table.ownerProcessId.load() != platform_->ownProcessId() && !platform_->watchesOwner();
  bool deliveryWatched;
  {
    // Messages waiting for the delivery thread: the delivery before them
    // may overrun its bound.
    LockGuard guard(deliveries_->lock);
    deliveryWatched = !deliveries_->messages.empty();
  }
  const bool watching = table.slotBusy.load() != 0 || assembler_.partialMessages() != 0 ||
                        ownerUnwatched || deliveryWatched || !queueEmpty();
  return watching ? kReceiverWaitMs : kWaitForever;
}

void InstanceChannel::receiverLoop() {
  InstanceTable& table = *platform_->table();
  while (running_.load()) {
    bool changed = table.changeCounter.load() != lastSeen_;
    if (!changed) {
      platform_->waitForChange(lastSeen_, receiverWaitMs());
      if (!running_.load()) break;
      changed = table.changeCounter.load() != lastSeen_;
    }
    lastSeen_ = table.changeCounter.load();
    pass(changed);
  }
  finished_.store(true);
}

void InstanceChannel::pass(bool changed) {
  InstanceTable& table = *platform_->table();
  const uint32_t own = platform_->ownProcessId();
  registry_.syncOwner();

  bool pulse = false;
  bool completed = false;
  uint32_t sender = 0;
  uint32_t slotSender = 0;  // waits to post its next chunk once the slot is free
  Bytes message;
  if (table.slotBusy.load() != 0) {
    const HeldChunk seen = slotChunk();
    const uint32_t target = seen.target;
    slotSender = seen.sender;
    if (target == own) {
      completed = takeChunk(sender, message);
      pulse = true;
    } else if (table.waitRounds.load() > 10) {
      dropSlotChunk(seen, true);
      pulse = true;
    } else if (target == 0 || platform_->isAlive(target)) {
      // Waiting for its target (or, with target 0, for its claimant to fill
      // it). The owner counts the passes a change caused; any instance drops
      // a chunk that waits too long, whoever owns the table.
      if (changed && table.ownerProcessId.load() == own && nowMs() - lastWaitRoundMs_ >= kWaitRoundMs) {
        // Changes come in bursts (every queued message signals one): a round
        // is counted at most this often, so a busy target is not taken for
        // one that never takes its chunk.
        table.waitRounds.fetch_add(1);
        lastWaitRoundMs_ = nowMs();
      }
      if (!releaseHeldSlot()) return;
      pulse = true;
    } else {
      dropSlotChunk(seen, false);  // its target has ended
      pulse = true;
    }
  }

  bool queued;
  {
    LockGuard guard(lock_);
    queued = !queue_.empty();
  }
  if (queued && table.slotBusy.load() == 0 && registry_.claimSlot()) {
    const uint32_t target = postChunk();
    platform_->signalChange();
    platform_->wake(target);
  } else if (pulse) {
    platform_->signalChange();
  }
  if (pulse && slotSender != 0 && slotSender != own) platform_->wake(slotSender);
  if (completed) deliver(sender, std::move(message));
  replaceStalledDelivery();
  // Quiet time: the partial messages of senders that died or stalled go.
  if (!changed) {
    assembler_.dropDeadSenders([this](uint32_t id) { return platform_->isAlive(id); });
    assembler_.dropExpired(nowMs());
  }
}

InstanceChannel::HeldChunk InstanceChannel::slotChunk() {
  InstanceTable& table = *platform_->table();
  // Chunk numbers are never reused, so two looks that agree saw one chunk.
  // The target with acquire: a chunk for this process is read after it.
  HeldChunk chunk{};
  chunk.number = table.chunkNumber.load();
  chunk.serial = table.messageSerial.load();
  chunk.sender = table.senderProcessId.load();
  chunk.target = table.targetProcessId.load(std::memory_order_acquire);
  return chunk;
}

bool InstanceChannel::dropSlotChunk(const HeldChunk& seen, bool waitedOut) {
  InstanceTable& table = *platform_->table();
  // Every instance looks at the slot: between this one's look and the drop
  // another may have dropped the same chunk and posted its next one, which
  // must not go with it. Under the slot mutex nothing is claimed or dropped
  // meanwhile, and a claim changes the target (to 0) and the rounds.
  const bool locked = platform_->lockSlot();
  const bool drop = table.slotBusy.load() != 0 && slotChunk() == seen &&
                    (!waitedOut || table.waitRounds.load() > 10);
  if (drop) table.slotBusy.store(0);
  if (locked) platform_->unlockSlot();
  return drop;
}

bool InstanceChannel::releaseHeldSlot() {
  const HeldChunk seen = slotChunk();
  const uint64_t now = nowMs();
  if (!holding_ || !(seen == held_)) {
    held_ = seen;
    heldSinceMs_ = now;
    holding_ = true;
    return false;
  }
  if (now - heldSinceMs_ < kSlotHoldMs) return false;
  holding_ = false;
  return dropSlotChunk(seen, false);
}

bool InstanceChannel::takeChunk(uint32_t& sender, Bytes& message) {
  InstanceTable& table = *platform_->table();
  Chunk chunk;
  chunk.sender = table.senderProcessId.load();
  chunk.serial = table.messageSerial.load();
  chunk.index = table.chunkIndex.load();
  chunk.lastIndex = table.lastChunkIndex.load();
  chunk.messageSize = table.messageSize.load();
  chunk.length = table.chunkLength.load();
  chunk.data = table.chunkData;
  {
    LockGuard guard(deliveries_->lock);
    assembler_.setHeldElsewhere(deliveries_->bytes);
  }
  const bool completed = assembler_.take(chunk, nowMs(), sender, message);
  table.slotBusy.store(0);
  return completed;
}

uint32_t InstanceChannel::postChunk() {
  InstanceTable& table = *platform_->table();
  Outgoing* message;
  {
    LockGuard guard(lock_);
    message = queue_.front().get();
  }
  const uint32_t size = static_cast<uint32_t>(message->bytes.size());
  if (message->sent == 0) message->serial = static_cast<uint32_t>(table.nextMessageSerial.fetch_add(1));
  const uint32_t length =
      size - message->sent < kChunkCapacity ? size - message->sent : kChunkCapacity;
  table.senderProcessId.store(platform_->ownProcessId());
  table.chunkCapacity.store(static_cast<int32_t>(kChunkCapacity));
  table.messageSerial.store(message->serial);
  table.chunkNumber.store(table.nextChunkNumber.fetch_add(1));
  table.messageSize.store(size);
  table.lastChunkIndex.store(static_cast<int32_t>((size - 1) / kChunkCapacity));
  table.chunkIndex.store(static_cast<int32_t>(message->sent / kChunkCapacity));
  table.chunkLength.store(static_cast<int32_t>(length));
  table.slotBusy.store(1);
  table.waitRounds.store(0);
  std::memcpy(table.chunkData, message->bytes.data() + message->sent, length);
  // From here on the target may take the chunk.
  table.targetProcessId.store(message->target, std::memory_order_release);
  const uint32_t target = message->target;
  message->sent += kChunkCapacity;
  if (message->sent >= size) {
    LockGuard guard(lock_);
    queue_.pop_front();
  }
  return target;
}

void InstanceChannel::deliver(uint32_t sender, Bytes message) {
  if (handler_ == nullptr) return;
  {
    LockGuard guard(deliveries_->lock);
    // Its bytes were counted against the budget as they came.
    deliveries_->bytes += message.size();
    deliveries_->messages.emplace_back(sender, std::move(message));
  }
  deliveries_->ready.notifyOne();
}

void InstanceChannel::sendArguments(uint32_t target, const StringList& arguments,
                                    bool (*answered)(void* context), void* context) {
  post(target, buildArgumentsMessage(arguments));
  if (receiverStarted()) {
    for (int i = 0; i < 100 && !queueEmpty(); ++i) sleepMs(50);
  }
  for (int i = 0; i < 1000 && !answered(context); ++i) sleepMs(50);
}

bool InstanceChannel::stop() {
  running_.store(false);
  const bool deliveriesEnded = stopDeliveries();
  if (!thread_.joinable()) return deliveriesEnded;
  platform_->wakeReceiver();
  for (uint32_t waited = 0; !finished_.load() && waited < kReceiverJoinMs; waited += 10) {
    platform_->wakeReceiver();
    sleepMs(10);
  }
  if (!finished_.load()) {
    thread_.detach();  // still inside a delivery; it ends with the process
    return false;
  }
  thread_.join();
  return deliveriesEnded;
}

bool InstanceChannel::stopDeliveries() {
  LockGuard guard(deliveries_->lock);
  deliveries_->stopping = true;
  deliveries_->ready.notifyAll();
  // The current delivery gets its time; overrunning ones are not waited for.
  const uint64_t deadline = nowMs() + kReceiverJoinMs;
  while (deliveries_->threads - deliveries_->stalled > 0) {
    const uint64_t now = nowMs();
    if (now >= deadline) break;
    deliveries_->ready.waitFor(deliveries_->lock, static_cast<uint32_t>(deadline - now));
  }
  // A thread still inside Java keeps using the queue: it stays.
  deliveriesLeft_ = deliveries_->threads != 0;
  return !deliveriesLeft_;
}

}  // namespace qlx
