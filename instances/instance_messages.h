// The messages instances send each other and their reassembly from chunks.
// A message is a little-endian header (kind, reply id) and a payload; it
// travels in chunks of at most 1024 bytes. Everything read here came from
// another process and is checked before use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "instances/instance_table.h"
#include "launcher/text.h"

namespace qlx {

using Bytes = std::vector<uint8_t>;

enum MessageKind : int32_t { kKindObject = 0, kKindArguments = 1, kKindReply = 2 };
constexpr size_t kMessageHeaderSize = 8;
// Larger announced sizes are refused at their first chunk, so no sender can
// make an instance reserve or collect more than this.
constexpr uint32_t kMaxMessageSize = 64u << 20;
// Partial messages kept at once; the oldest is dropped beyond this.
constexpr size_t kMaxIncomingMessages = 64;
// All the bytes a receiver holds for messages from others, partial or
// complete and waiting for delivery, whatever their number or senders.
constexpr size_t kIncomingBudget = 128u << 20;
// A partial message whose next chunk has not come for this long is dropped:
// its sender may live on without ever finishing it.
constexpr uint64_t kPartialTimeoutMs = 30000;

Bytes buildMessage(int32_t kind, int32_t replyId, const void* payload, size_t size);
// Kind 1: the count, each argument with its zero byte, one more zero byte.
Bytes buildArgumentsMessage(const StringList& arguments);
// False for a message too short to have a header.
bool readHeader(const Bytes& message, int32_t& kind, int32_t& replyId);
// The arguments of a kind 1 payload; false when the count or a string runs
// past the end.
bool parseArguments(const uint8_t* payload, size_t size, StringList& arguments);

// Text from another process made safe for a log line: every control
// character (line breaks and tabs included), and the characters that
// reorder or hide text, written as \xNN or \uNNNN.
// UTF-16 code units in and out.
std::vector<uint16_t> escapedForLog(const uint16_t* text, size_t length);
// A handed-over command line's answer as the second launch prints it:
// control characters other than tab, line feed and carriage return written
// as \xNN, so the first instance's answer cannot drive the terminal. Ends
// at the first zero byte.
std::string printableAnswer(const uint8_t* text, size_t size);

struct Chunk {
  uint32_t sender;
  uint32_t serial;
  int32_t index;
  int32_t lastIndex;
  uint32_t messageSize;
  int32_t length;
  const uint8_t* data;
};

class ChunkAssembler {
 public:
  explicit ChunkAssembler(size_t budget = kIncomingBudget, uint64_t timeoutMs = kPartialTimeoutMs)
      : budget_(budget), timeoutMs_(timeoutMs) {}
  // Takes a chunk addressed to this process at time `nowMs`. True when it
  // completed a message, which is moved into `message` (sender in
  // `sender`). A chunk that would take the bytes held past the budget
  // drops its message.
  bool take(const Chunk& chunk, uint64_t nowMs, uint32_t& sender, Bytes& message);
  // Bytes held outside the assembler (complete messages not yet delivered),
  // counted against the same budget.
  void setHeldElsewhere(size_t bytes) { heldElsewhere_ = bytes; }
  // Drops the partial messages that have waited too long for a chunk.
  void dropExpired(uint64_t nowMs);
  // Discards the partial messages of senders that `alive` says are gone.
  template <typename Alive>
  void dropDeadSenders(Alive alive) {
    for (size_t i = 0; i < incoming_.size();) {
      if (alive(incoming_[i].sender)) {
        ++i;
      } else {
        discard(i);
      }
    }
  }
  size_t partialMessages() const { return incoming_.size(); }
  size_t partialBytes() const { return held_; }

 private:
  struct Incoming {
    uint32_t serial;
    uint32_t sender;
    uint32_t size;
    int32_t received;
    uint64_t lastChunkMs;
    Bytes bytes;
  };
  void discard(size_t index);

  size_t budget_;
  uint64_t timeoutMs_;
  size_t heldElsewhere_ = 0;
  size_t held_ = 0;  // bytes of all partial messages
  std::vector<Incoming> incoming_;
};

}  // namespace qlx
