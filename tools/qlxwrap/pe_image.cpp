// PE header reading for the resource writer and --inspect.
#include "tools/qlxwrap/pe_image.h"

#include <algorithm>

namespace qlx::wrap {

uint32_t PeLayout::directoryAddress(const Bytes& image, unsigned index) const {
  return index < directoryCount ? get32(image, dataDirectories + 8ull * index) : 0;
}

uint32_t PeLayout::directorySize(const Bytes& image, unsigned index) const {
  return index < directoryCount ? get32(image, dataDirectories + 8ull * index + 4) : 0;
}

bool PeLayout::rvaToOffset(uint32_t rva, uint64_t len, uint64_t& offset) const {
  for (const PeSection& s : sections) {
    if (rva >= s.virtualAddress &&
        static_cast<uint64_t>(rva) + len <=
            static_cast<uint64_t>(s.virtualAddress) + s.rawSize) {
      offset = static_cast<uint64_t>(s.rawPointer) + (rva - s.virtualAddress);
      return true;
    }
  }
  return false;
}

uint64_t PeLayout::imageEnd() const {
  uint64_t end = 0;
  for (const PeSection& s : sections)
    if (s.rawSize != 0) end = std::max<uint64_t>(end, static_cast<uint64_t>(s.rawPointer) + s.rawSize);
  return end;
}

bool parsePe(const Bytes& d, PeLayout& p, std::string& error) {
  p = PeLayout{};
  error = "not a PE image";
  if (d.size() < 0x40 || d[0] != 'M' || d[1] != 'Z') return false;
  uint64_t pe = get32(d, 0x3C);
  if (!inside(d, pe, 26) || d[pe] != 'P' || d[pe + 1] != 'E' || d[pe + 2] || d[pe + 3])
    return false;
  unsigned count = get16(d, pe + 6);
  unsigned optSize = get16(d, pe + 20);
  p.optionalHeader = pe + 24;
  uint16_t magic = get16(d, p.optionalHeader);
  if (magic != 0x20B && magic != 0x10B) return false;
  p.pe32plus = magic == 0x20B;
  uint64_t dirs = p.optionalHeader + (p.pe32plus ? 112 : 96);
  error = "PE optional header is damaged";
  if (!inside(d, p.optionalHeader, optSize) || dirs > p.optionalHeader + optSize) return false;
  p.directoryCount = std::min<uint32_t>(get32(d, dirs - 4),
                                        static_cast<uint32_t>((p.optionalHeader + optSize - dirs) / 8));
  p.dataDirectories = dirs;
  p.sectionAlignment = std::max<uint32_t>(get32(d, p.optionalHeader + 32), 1);
  p.fileAlignment = std::max<uint32_t>(get32(d, p.optionalHeader + 36), 1);
  p.checksumOffset = p.optionalHeader + 64;
  uint64_t table = p.optionalHeader + optSize;
  error = "PE section table is damaged";
  if (!inside(d, table, 40ull * count)) return false;
  for (unsigned i = 0; i < count; ++i) {
    uint64_t s = table + 40ull * i;
    PeSection sec;
    for (int k = 0; k < 8 && d[s + k]; ++k) sec.name += static_cast<char>(d[s + k]);
    sec.virtualSize = get32(d, s + 8);
    sec.virtualAddress = get32(d, s + 12);
    sec.rawSize = get32(d, s + 16);
    sec.rawPointer = get32(d, s + 20);
    sec.headerOffset = s;
    // A section without file data (.bss) may hold any pointer; loaders ignore it.
    if (sec.rawSize != 0 && !inside(d, sec.rawPointer, sec.rawSize)) {
      error = "PE section " + sec.name + " lies outside the file";
      return false;
    }
    p.sections.push_back(sec);
  }
  error.clear();
  return true;
}

}  // namespace qlx::wrap
