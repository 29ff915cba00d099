// The channel's transfer loop. Only the receiver thread touches the slot;
// Java threads only queue. Sleeps appear only where the caller is meant to
// wait (handover, flush), never on the transfer path.
#include "instances/instance_channel.h"

#include <chrono>
#include <cstring>

namespace qlx {

namespace {

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

InstanceChannel::InstanceChannel(std::unique_ptr<InstancePlatform> platform)
    : platform_(std::move(platform)), registry_(*platform_) {
  registry_.registerInstance();
  lastSeen_ = platform_->table()->changeCounter.load();
}

InstanceChannel::~InstanceChannel() {
  // A thread that could not be joined may still use the platform: keep it.
  if (!stop()) platform_.release();
}

void InstanceChannel::post(uint32_t target, Bytes message) {
  if (message.empty() || message.size() > kMaxMessageSize) return;  // no receiver would take it
  auto outgoing = std::make_unique<Outgoing>();
  outgoing->target = target;
  outgoing->bytes = std::move(message);
  {
    std::lock_guard<std::mutex> guard(lock_);
    queue_.push_back(std::move(outgoing));
  }
  platform_->signalChange();
  platform_->wake(platform_->ownProcessId());  // the receiver thread transfers it
}

bool InstanceChannel::queueEmpty() {
  std::lock_guard<std::mutex> guard(lock_);
  return queue_.empty();
}

void InstanceChannel::startReceiver(MessageHandler* handler) {
  if (started_.exchange(true)) return;
  handler_ = handler;
  thread_ = std::thread([this] { receiverLoop(); });
}

void InstanceChannel::receiverLoop() {
  InstanceTable& table = *platform_->table();
  while (running_.load()) {
    bool changed = table.changeCounter.load() != lastSeen_;
    if (!changed) {
      platform_->waitForChange(lastSeen_, kReceiverWaitMs);
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
    const uint32_t target = table.targetProcessId.load(std::memory_order_acquire);
    slotSender = table.senderProcessId.load();
    if (target == own) {
      completed = takeChunk(sender, message);
      pulse = true;
    } else if (table.waitRounds.load() > 10) {
      table.slotBusy.store(0);
      pulse = true;
    } else if (target == 0 || platform_->isAlive(target)) {
      // Waiting for its target (or, with target 0, for its claimant to fill
      // it). Only the owner counts, and only passes that a change caused, so
      // a claimant that died while filling cannot block the slot for ever.
      if (changed && table.ownerProcessId.load() == own) table.waitRounds.fetch_add(1);
      return;
    } else {
      table.slotBusy.store(0);  // its target has ended
      pulse = true;
    }
  }

  bool queued;
  {
    std::lock_guard<std::mutex> guard(lock_);
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
  if (completed) deliver(sender, message);
  // Quiet time: the partial messages of senders that died go.
  if (!changed) assembler_.dropDeadSenders([this](uint32_t id) { return platform_->isAlive(id); });
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
  const bool completed = assembler_.take(chunk, sender, message);
  table.slotBusy.store(0);
  return completed;
}

uint32_t InstanceChannel::postChunk() {
  InstanceTable& table = *platform_->table();
  Outgoing* message;
  {
    std::lock_guard<std::mutex> guard(lock_);
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
    std::lock_guard<std::mutex> guard(lock_);
    queue_.pop_front();
  }
  return target;
}

void InstanceChannel::deliver(uint32_t sender, const Bytes& message) {
  if (handler_ != nullptr) handler_->onMessage(sender, message);
}

void InstanceChannel::sendArguments(const StringList& arguments,
                                    const std::function<bool()>& answered) {
  post(ownerId(), buildArgumentsMessage(arguments));
  if (receiverStarted()) {
    for (int i = 0; i < 100 && !queueEmpty(); ++i) sleepMs(50);
  }
  for (int i = 0; i < 1000 && !answered(); ++i) sleepMs(50);
}

bool InstanceChannel::stop() {
  running_.store(false);
  if (!thread_.joinable()) return true;
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
  return true;
}

}  // namespace qlx
