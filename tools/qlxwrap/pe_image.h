// Reading the headers of a PE image: the section table and the data
// directories, with every offset checked against the file, so the generator
// and --inspect can look at any bytes without reading outside them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/qlxwrap/wrap.h"

namespace qlx::wrap {

struct PeSection {
  std::string name;
  uint32_t virtualSize = 0, virtualAddress = 0, rawSize = 0, rawPointer = 0;
  uint64_t headerOffset = 0;  // of this entry in the section table
};

struct PeLayout {
  bool pe32plus = false;
  uint64_t optionalHeader = 0;
  uint64_t dataDirectories = 0;  // file offset of entry 0
  uint32_t directoryCount = 0;
  uint32_t sectionAlignment = 1, fileAlignment = 1;
  uint64_t checksumOffset = 0;
  std::vector<PeSection> sections;

  // Data directory entry `index` (RVA or file offset, size); zero when absent.
  uint32_t directoryAddress(const Bytes& image, unsigned index) const;
  uint32_t directorySize(const Bytes& image, unsigned index) const;
  // File offset of `len` bytes at `rva`, inside one section's raw data.
  bool rvaToOffset(uint32_t rva, uint64_t len, uint64_t& offset) const;
  // The end of the last section's raw data: where appended data starts.
  uint64_t imageEnd() const;
};

bool parsePe(const Bytes& image, PeLayout& layout, std::string& error);

inline uint16_t get16(const Bytes& d, uint64_t at) {
  return static_cast<uint16_t>(d[at] | d[at + 1] << 8);
}
inline uint32_t get32(const Bytes& d, uint64_t at) {
  return static_cast<uint32_t>(d[at]) | static_cast<uint32_t>(d[at + 1]) << 8 |
         static_cast<uint32_t>(d[at + 2]) << 16 | static_cast<uint32_t>(d[at + 3]) << 24;
}
inline void put16(Bytes& d, uint64_t at, uint32_t v) {
  d[at] = static_cast<uint8_t>(v);
  d[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void put32(Bytes& d, uint64_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) d[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline bool inside(const Bytes& d, uint64_t at, uint64_t len) {
  return at <= d.size() && len <= d.size() - at;
}

}  // namespace qlx::wrap
