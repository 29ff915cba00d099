// Walking a PE image's resource directory down to one string-table block
// (type RT_STRING, name = block number, language) and rewriting its data in
// place. The layout of the block (16 counted UTF-16 strings) is what the
// launcher's message lookup reads back.
#include "tools/qlxwrap/pe_strings.h"

namespace qlx::wrap {
namespace {

constexpr uint32_t kRtString = 6;
constexpr uint32_t kLangEnUs = 1033;

uint16_t get16(const Bytes& d, uint64_t at) { return static_cast<uint16_t>(d[at] | d[at + 1] << 8); }
uint32_t get32(const Bytes& d, uint64_t at) {
  return static_cast<uint32_t>(d[at]) | static_cast<uint32_t>(d[at + 1]) << 8 |
         static_cast<uint32_t>(d[at + 2]) << 16 | static_cast<uint32_t>(d[at + 3]) << 24;
}

struct Image {
  const Bytes& d;
  uint64_t sections = 0;  // file offset of the section table
  unsigned sectionCount = 0;
  uint32_t resourceRva = 0;
  uint32_t resourceSize = 0;

  bool in(uint64_t at, uint64_t len) const { return at <= d.size() && len <= d.size() - at; }

  // File offset of `len` bytes at `rva`, inside one section's raw data.
  bool rvaToOffset(uint32_t rva, uint64_t len, uint64_t& offset) const {
    for (unsigned i = 0; i < sectionCount; ++i) {
      uint64_t s = sections + 40ull * i;
      uint32_t va = get32(d, s + 12), rawSize = get32(d, s + 16), raw = get32(d, s + 20);
      if (rva >= va && static_cast<uint64_t>(rva) + len <= static_cast<uint64_t>(va) + rawSize) {
        offset = static_cast<uint64_t>(raw) + (rva - va);
        return in(offset, len);
      }
    }
    return false;
  }
};

bool openImage(Image& img, std::string& error) {
  const Bytes& d = img.d;
  if (!isPeImage(d)) {
    error = "not a PE image";
    return false;
  }
  uint64_t pe = get32(d, 0x3C);
  unsigned count = get16(d, pe + 6);
  unsigned optSize = get16(d, pe + 20);
  uint64_t opt = pe + 24;
  uint16_t magic = get16(d, opt);
  uint64_t dirs = magic == 0x20B ? opt + 112 : opt + 96;
  if (!img.in(opt, optSize) || dirs + 8 * 3 > opt + optSize || get32(d, dirs - 4) < 3) {
    error = "PE optional header is damaged";
    return false;
  }
  img.resourceRva = get32(d, dirs + 16);
  img.resourceSize = get32(d, dirs + 20);
  img.sections = opt + optSize;
  img.sectionCount = count;
  if (!img.in(img.sections, 40ull * count)) {
    error = "PE section table is damaged";
    return false;
  }
  if (img.resourceRva == 0 || img.resourceSize == 0) {
    error = "the image has no resources";
    return false;
  }
  return true;
}

// One level of the resource tree: the entry with `id` (or, with `anyId`,
// the first id entry). `dir` and the result are offsets from the resource
// section start; `subdir` tells which kind the entry points at.
bool findEntry(const Image& img, uint64_t rsrc, uint32_t dir, uint32_t id, bool anyId,
               uint32_t& target, bool& subdir) {
  uint64_t at = rsrc + dir;
  if (!img.in(at, 16) || dir + 16ull > img.resourceSize) return false;
  unsigned named = get16(img.d, at + 12), ids = get16(img.d, at + 14);
  uint64_t entries = at + 16;
  if (!img.in(entries, 8ull * (named + ids))) return false;
  for (unsigned i = named; i < named + ids; ++i) {
    uint32_t name = get32(img.d, entries + 8ull * i);
    uint32_t data = get32(img.d, entries + 8ull * i + 4);
    if (anyId || name == id) {
      subdir = (data & 0x80000000u) != 0;
      target = data & 0x7FFFFFFFu;
      return target < img.resourceSize;
    }
  }
  return false;
}

bool decodeBlock(const uint8_t* p, uint32_t size, std::vector<std::u16string>& strings) {
  strings.assign(16, std::u16string());
  uint64_t pos = 0;
  for (int i = 0; i < 16; ++i) {
    if (pos + 2 > size) return false;
    uint32_t len = static_cast<uint32_t>(p[pos] | p[pos + 1] << 8);
    pos += 2;
    if (pos + 2ull * len > size) return false;
    for (uint32_t k = 0; k < len; ++k, pos += 2)
      strings[i] += static_cast<char16_t>(p[pos] | p[pos + 1] << 8);
  }
  return true;
}

}  // namespace

bool isPeImage(const Bytes& d) {
  if (d.size() < 0x40 || d[0] != 'M' || d[1] != 'Z') return false;
  uint64_t pe = get32(d, 0x3C);
  if (pe + 24 + 2 > d.size() || d[pe] != 'P' || d[pe + 1] != 'E' || d[pe + 2] != 0 ||
      d[pe + 3] != 0)
    return false;
  uint16_t magic = get16(d, pe + 24);
  return magic == 0x20B || magic == 0x10B;
}

bool findStringBlock(const Bytes& image, int block, StringBlockLocation& where,
                     std::string& error) {
  Image img{image};
  if (!openImage(img, error)) return false;
  uint64_t rsrc;
  if (!img.rvaToOffset(img.resourceRva, img.resourceSize, rsrc)) {
    error = "the resource directory lies outside the file";
    return false;
  }
  uint32_t typeDir, nameDir, dataEntry;
  bool subdir = false;
  if (!findEntry(img, rsrc, 0, kRtString, false, typeDir, subdir) || !subdir ||
      !findEntry(img, rsrc, typeDir, static_cast<uint32_t>(block), false, nameDir, subdir) ||
      !subdir) {
    error = "the image has no string table block " + std::to_string(block);
    return false;
  }
  if (!findEntry(img, rsrc, nameDir, kLangEnUs, false, dataEntry, subdir) &&
      !findEntry(img, rsrc, nameDir, 0, true, dataEntry, subdir)) {
    error = "string table block " + std::to_string(block) + " has no language entry";
    return false;
  }
  if (subdir || !img.in(rsrc + dataEntry, 16)) {
    error = "string table block " + std::to_string(block) + " is damaged";
    return false;
  }
  uint32_t dataRva = get32(image, rsrc + dataEntry);
  uint32_t size = get32(image, rsrc + dataEntry + 4);
  uint64_t offset;
  if (!img.rvaToOffset(dataRva, size, offset)) {
    error = "string table block " + std::to_string(block) + " lies outside the file";
    return false;
  }
  where.fileOffset = offset;
  where.size = size;
  where.sizeFieldOffset = rsrc + dataEntry + 4;
  return true;
}

bool readStringBlock(const Bytes& image, int block, std::vector<std::u16string>& strings,
                     std::string& error) {
  StringBlockLocation where;
  if (!findStringBlock(image, block, where, error)) return false;
  if (!decodeBlock(&image[where.fileOffset], where.size, strings)) {
    error = "string table block " + std::to_string(block) + " is damaged";
    return false;
  }
  return true;
}

bool patchStringBlock(Bytes& image, int block,
                      const std::vector<std::pair<int, std::u16string>>& replacements,
                      std::string& error) {
  StringBlockLocation where;
  std::vector<std::u16string> strings;
  if (!findStringBlock(image, block, where, error)) return false;
  if (!decodeBlock(&image[where.fileOffset], where.size, strings)) {
    error = "string table block " + std::to_string(block) + " is damaged";
    return false;
  }
  for (const auto& r : replacements) {
    if (r.first < 0 || r.first > 15 || r.second.size() > 0xFFFF) {
      error = "bad string table replacement";
      return false;
    }
    strings[r.first] = r.second;
  }
  Bytes data;
  for (const auto& s : strings) {
    data.push_back(static_cast<uint8_t>(s.size()));
    data.push_back(static_cast<uint8_t>(s.size() >> 8));
    for (char16_t u : s) {
      data.push_back(static_cast<uint8_t>(u));
      data.push_back(static_cast<uint8_t>(u >> 8));
    }
  }
  if (data.size() > where.size) {
    error = "the texts need " + std::to_string(data.size()) + " bytes but the stub's string block " +
            std::to_string(block) + " holds " + std::to_string(where.size) +
            " (shorten the service texts)";
    return false;
  }
  // The block keeps its size: zero bytes after the 16th string are never
  // read, and the room stays for whoever patches the block next.
  std::copy(data.begin(), data.end(), image.begin() + static_cast<std::ptrdiff_t>(where.fileOffset));
  std::fill(image.begin() + static_cast<std::ptrdiff_t>(where.fileOffset + data.size()),
            image.begin() + static_cast<std::ptrdiff_t>(where.fileOffset + where.size), 0);
  return true;
}

}  // namespace qlx::wrap
