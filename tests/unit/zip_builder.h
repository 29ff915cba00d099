// In-memory zip archives and launcher stubs for the generator's unit tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "launcher/payload.h"

namespace qlx::testing {

using Bytes = std::vector<uint8_t>;

inline void put16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline uint32_t crc32(const std::string& s) {
  uint32_t c = 0xFFFFFFFFu;
  for (unsigned char ch : s) {
    c ^= ch;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}

// A stored (uncompressed) zip with the given entries and optional comment.
inline Bytes makeZip(const std::vector<std::pair<std::string, std::string>>& entries,
                     const std::string& comment = "") {
  Bytes out, central;
  for (const auto& e : entries) {
    uint32_t offset = static_cast<uint32_t>(out.size());
    uint32_t crc = crc32(e.second);
    auto size = static_cast<uint32_t>(e.second.size());
    put32(out, 0x04034B50);
    put16(out, 10);
    put16(out, 0);
    put16(out, 0);
    put32(out, 0);
    put32(out, crc);
    put32(out, size);
    put32(out, size);
    put16(out, static_cast<uint32_t>(e.first.size()));
    put16(out, 0);
    out.insert(out.end(), e.first.begin(), e.first.end());
    out.insert(out.end(), e.second.begin(), e.second.end());
    put32(central, 0x02014B50);
    put16(central, 20);
    put16(central, 10);
    put16(central, 0);
    put16(central, 0);
    put32(central, 0);
    put32(central, crc);
    put32(central, size);
    put32(central, size);
    put16(central, static_cast<uint32_t>(e.first.size()));
    put16(central, 0);
    put16(central, 0);
    put16(central, 0);
    put16(central, 0);
    put32(central, 0);
    put32(central, offset);
    central.insert(central.end(), e.first.begin(), e.first.end());
  }
  uint32_t cdOffset = static_cast<uint32_t>(out.size());
  out.insert(out.end(), central.begin(), central.end());
  put32(out, 0x06054B50);
  put16(out, 0);
  put16(out, 0);
  put16(out, static_cast<uint32_t>(entries.size()));
  put16(out, static_cast<uint32_t>(entries.size()));
  put32(out, static_cast<uint32_t>(central.size()));
  put32(out, cdOffset);
  put16(out, static_cast<uint32_t>(comment.size()));
  out.insert(out.end(), comment.begin(), comment.end());
  return out;
}

// A stand-in launcher image: some code-like bytes with one archive slot.
inline Bytes makeStub(size_t before = 100, size_t after = 60) {
  Bytes stub;
  for (size_t i = 0; i < before; ++i) stub.push_back(static_cast<uint8_t>(i * 7 + 1));
  stub.insert(stub.end(), 8, 0);
  stub.insert(stub.end(), kArchiveSlotMarker, kArchiveSlotMarker + sizeof(kArchiveSlotMarker));
  for (size_t i = 0; i < after; ++i) stub.push_back(static_cast<uint8_t>(i * 13 + 5));
  return stub;
}

}  // namespace qlx::testing
