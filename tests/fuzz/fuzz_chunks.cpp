// Fuzzes what another instance can leave in the transfer slot: chunk fields
// fed to the reassembly, the payload of a handed-over command line, and the
// texts of others that reach the terminal or a log line.
#include <cstdlib>
#include <cstring>

#include "instances/instance_messages.h"

namespace {

uint32_t take32(const uint8_t*& data, size_t& size) {
  uint32_t value = 0;
  const size_t n = size < 4 ? size : 4;
  std::memcpy(&value, data, n);
  data += n;
  size -= n;
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qlx;
  StringList arguments;
  if (parseArguments(data, size, arguments)) {
    size_t used = 4;
    for (const std::string& argument : arguments) used += argument.size() + 1;
    if (used > size) std::abort();
  }

  // Nothing that drives a terminal or breaks a log line comes through.
  for (uint8_t c : printableAnswer(data, size)) {
    if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7f) std::abort();
  }
  const std::vector<uint16_t> logged =
      escapedForLog(reinterpret_cast<const uint16_t*>(data), size / 2);
  for (uint16_t c : logged) {
    if (c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x2028 || c == 0x202e) std::abort();
  }

  // A run of chunks, each from 20 header bytes and up to 1024 data bytes.
  ChunkAssembler assembler;
  uint8_t slot[kChunkCapacity];
  while (size > 0) {
    Chunk chunk;
    chunk.sender = take32(data, size) % 4;
    chunk.serial = take32(data, size) % 8;
    chunk.index = static_cast<int32_t>(take32(data, size)) % 8;
    chunk.messageSize = take32(data, size) % 5000;
    chunk.lastIndex = chunk.messageSize == 0 ? 0 : static_cast<int32_t>((chunk.messageSize - 1) / 1024);
    if (size > 0 && (data[0] & 1)) chunk.lastIndex += static_cast<int8_t>(data[0]) >> 1;
    chunk.length = static_cast<int32_t>(take32(data, size) % 1100) - 20;
    const size_t copy = size < sizeof(slot) ? size : sizeof(slot);
    std::memset(slot, 0xAB, sizeof(slot));
    std::memcpy(slot, data, copy);
    data += copy / 2;
    size -= copy / 2;
    chunk.data = slot;
    uint32_t sender = 0;
    Bytes message;
    if (assembler.take(chunk, 0, sender, message) && message.size() != chunk.messageSize) std::abort();
    if (assembler.partialMessages() > kMaxIncomingMessages) std::abort();
  }
  assembler.dropDeadSenders([](uint32_t id) { return id % 2 == 0; });
  return 0;
}
