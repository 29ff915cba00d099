// The shared instance table: one block of memory that every running process
// of a program maps (the executable's shared section, or a named mapping for
// an application id). Processes of other builds of the program may share it,
// so the layout below is fixed to the byte and nothing in it can be trusted:
// every reader checks what it reads.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace qlx {

constexpr uint32_t kChunkCapacity = 1024;
constexpr int kMaxInstances = 250;
constexpr size_t kTableSize = 2108;

// 32-bit fields are accessed atomically: other processes change them at any
// time. Plain aligned 32- and 64-bit atomics occupy exactly their bytes.
struct InstanceTable {
  std::atomic<uint32_t> ownerProcessId;
  std::atomic<int32_t> nextMessageSerial;
  std::atomic<int32_t> nextChunkNumber;
  // The instance that holds the single-instance mutex in handover mode,
  // where second launches hand their arguments (0: none claimed). It need
  // not be the owner: launches that start together register in any order.
  // Older builds leave it zero.
  std::atomic<uint32_t> handoverFirstId;
  // Handle values, valid in the owner's process only; two 32-bit halves
  // (low first) keep the table 4-byte aligned, as its size requires.
  std::atomic<uint32_t> mutexHandle[2];
  std::atomic<uint32_t> eventHandle[2];
  std::atomic<int32_t> changeCounter;
  std::atomic<uint32_t> senderProcessId;
  std::atomic<uint32_t> targetProcessId;  // written last by the sender: the chunk is ready
  std::atomic<int32_t> chunkNumber;
  std::atomic<int32_t> slotBusy;
  std::atomic<int32_t> waitRounds;
  std::atomic<uint32_t> messageSerial;
  std::atomic<int32_t> chunkIndex;
  std::atomic<int32_t> lastChunkIndex;
  std::atomic<int32_t> chunkCapacity;
  std::atomic<uint32_t> messageSize;
  std::atomic<int32_t> chunkLength;
  unsigned char chunkData[kChunkCapacity];
  std::atomic<int32_t> instanceCount;
  std::atomic<uint32_t> instanceIds[kMaxInstances];
};

static_assert(std::atomic<uint32_t>::is_always_lock_free && sizeof(std::atomic<uint32_t>) == 4,
              "table fields must be plain memory");
static_assert(offsetof(InstanceTable, mutexHandle) == 16, "layout");
static_assert(offsetof(InstanceTable, changeCounter) == 32, "layout");
static_assert(offsetof(InstanceTable, slotBusy) == 48, "layout");
static_assert(offsetof(InstanceTable, messageSize) == 72, "layout");
static_assert(offsetof(InstanceTable, chunkData) == 80, "layout");
static_assert(offsetof(InstanceTable, instanceCount) == 1104, "layout");
static_assert(offsetof(InstanceTable, instanceIds) == 1108, "layout");
static_assert(sizeof(InstanceTable) == kTableSize, "layout");

inline uint64_t loadHandleValue(const std::atomic<uint32_t> (&field)[2]) {
  return static_cast<uint64_t>(field[1].load()) << 32 | field[0].load();
}
inline void storeHandleValue(std::atomic<uint32_t> (&field)[2], uint64_t value) {
  field[0].store(static_cast<uint32_t>(value));
  field[1].store(static_cast<uint32_t>(value >> 32));
}

inline InstanceTable* tableAt(volatile void* memory) {
  return reinterpret_cast<InstanceTable*>(const_cast<void*>(memory));
}

}  // namespace qlx
