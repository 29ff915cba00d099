// Message building and parsing, and chunk reassembly with every field that
// another process wrote checked against the others.
#include "instances/instance_messages.h"

#include <cstring>

namespace qlx {

namespace {

void appendInt(Bytes& out, int32_t value) {
  const uint32_t v = static_cast<uint32_t>(value);
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

int32_t readInt(const uint8_t* at) {
  return static_cast<int32_t>(static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
                              static_cast<uint32_t>(at[2]) << 16 |
                              static_cast<uint32_t>(at[3]) << 24);
}

// A pointer to the literal, which the stub keeps once for all its users.
constexpr const char* kHex = "0123456789abcdef";

bool hidesText(uint16_t c) {
  return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x061c || c == 0x200e || c == 0x200f ||
         c == 0x2028 || c == 0x2029 || (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::vector<uint16_t> escapedForLog(const uint16_t* text, size_t length) {
  std::vector<uint16_t> out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    const uint16_t c = text[i];
    if (!hidesText(c)) {
      out.push_back(c);
      continue;
    }
    out.push_back('\\');
    const int digits = c <= 0xff ? 2 : 4;
    out.push_back(digits == 2 ? 'x' : 'u');
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
      out.push_back(static_cast<uint16_t>(kHex[(c >> shift) & 15]));
    }
  }
  return out;
}

std::string printableAnswer(const uint8_t* text, size_t size) {
  std::string out;
  for (size_t i = 0; i < size && text[i] != 0; ++i) {
    const uint8_t c = text[i];
    if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7f) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

Bytes buildMessage(int32_t kind, int32_t replyId, const void* payload, size_t size) {
  Bytes message;
  message.reserve(kMessageHeaderSize + size);
  appendInt(message, kind);
  appendInt(message, replyId);
  const uint8_t* bytes = static_cast<const uint8_t*>(payload);
  if (size > 0) message.insert(message.end(), bytes, bytes + size);
  return message;
}

Bytes buildArgumentsMessage(const StringList& arguments) {
  Bytes payload;
  appendInt(payload, static_cast<int32_t>(arguments.size()));
  for (const std::string& argument : arguments) {
    payload.insert(payload.end(), argument.begin(), argument.end());
    payload.push_back(0);
  }
  payload.push_back(0);
  return buildMessage(kKindArguments, 0, payload.data(), payload.size());
}

bool readHeader(const Bytes& message, int32_t& kind, int32_t& replyId) {
  if (message.size() < kMessageHeaderSize) return false;
  kind = readInt(message.data());
  replyId = readInt(message.data() + 4);
  return true;
}

bool parseArguments(const uint8_t* payload, size_t size, StringList& arguments) {
  arguments.clear();
  if (size < 4) return false;
  const int32_t count = readInt(payload);
  // Every string needs at least its zero byte.
  if (count < 0 || static_cast<size_t>(count) > size - 4) return false;
  size_t at = 4;
  for (int32_t i = 0; i < count; ++i) {
    const void* end = std::memchr(payload + at, 0, size - at);
    if (end == nullptr) return false;
    const size_t length = static_cast<const uint8_t*>(end) - (payload + at);
    arguments.emplace_back(reinterpret_cast<const char*>(payload + at), length);
    at += length + 1;
  }
  return true;
}

void ChunkAssembler::discard(size_t index) {
  held_ -= incoming_[index].bytes.size();
  incoming_.erase(incoming_.begin() + static_cast<std::ptrdiff_t>(index));
}

void ChunkAssembler::dropExpired(uint64_t nowMs) {
  for (size_t i = 0; i < incoming_.size();) {
    if (nowMs - incoming_[i].lastChunkMs > timeoutMs_) {
      discard(i);
    } else {
      ++i;
    }
  }
}

bool ChunkAssembler::take(const Chunk& chunk, uint64_t nowMs, uint32_t& sender, Bytes& message) {
  const uint32_t size = chunk.messageSize;
  if (size == 0 || size > kMaxMessageSize) return false;
  const int32_t lastIndex = static_cast<int32_t>((size - 1) / kChunkCapacity);
  if (chunk.lastIndex != lastIndex || chunk.index < 0 || chunk.index > lastIndex) return false;
  const uint32_t offset = static_cast<uint32_t>(chunk.index) * kChunkCapacity;
  const uint32_t expected = size - offset < kChunkCapacity ? size - offset : kChunkCapacity;
  if (chunk.length < 0 || static_cast<uint32_t>(chunk.length) != expected) return false;

  dropExpired(nowMs);
  if (chunk.index == 0) {
    if (incoming_.size() >= kMaxIncomingMessages) discard(0);
    incoming_.push_back(Incoming{chunk.serial, chunk.sender, size, 0, nowMs, Bytes()});
  }
  size_t found = 0;
  while (found < incoming_.size() && incoming_[found].serial != chunk.serial) ++found;
  if (found == incoming_.size()) return false;  // its first chunk never came
  Incoming& in = incoming_[found];
  if (in.sender != chunk.sender || in.size != size || in.received != chunk.index ||
      heldElsewhere_ + held_ + static_cast<size_t>(chunk.length) > budget_) {
    // A lost chunk, a sender that changed its mind, or no room left: the
    // rest cannot be right or cannot be kept.
    discard(found);
    return false;
  }
  in.bytes.insert(in.bytes.end(), chunk.data, chunk.data + chunk.length);
  held_ += static_cast<size_t>(chunk.length);
  in.lastChunkMs = nowMs;
  ++in.received;
  if (chunk.index != lastIndex) return false;
  sender = in.sender;
  held_ -= in.bytes.size();
  message = std::move(in.bytes);
  incoming_.erase(incoming_.begin() + static_cast<std::ptrdiff_t>(found));
  return true;
}

}  // namespace qlx
