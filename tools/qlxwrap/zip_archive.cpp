// Zip checking and raw merging. Only the structures the Java runtime's zip
// reader relies on are checked: the end record, the central directory and
// the local headers it points at. Entry data is never decompressed.
#include "tools/qlxwrap/zip_archive.h"

#include "tools/qlxwrap/inflate.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "tools/qlxwrap/config_check.h"

namespace qlx::wrap {
namespace {

constexpr uint32_t kEndSig = 0x06054B50;
constexpr uint32_t kCentralSig = 0x02014B50;
constexpr uint32_t kLocalSig = 0x04034B50;
constexpr uint32_t kDescriptorSig = 0x08074B50;
constexpr uint32_t kZip64LocatorSig = 0x07064B50;
constexpr size_t kEndSize = 22;
constexpr size_t kCentralSize = 46;
constexpr size_t kLocalSize = 30;

uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
void put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The end record whose comment runs exactly to the end of the file, looked
// for from the end (a comment may itself contain the signature).
int64_t findEnd(const Bytes& d) {
  if (d.size() < kEndSize) return -1;
  uint64_t last = d.size() - kEndSize;
  uint64_t first = last > 0xFFFF ? last - 0xFFFF : 0;
  for (uint64_t pos = last + 1; pos-- > first;) {
    if (get32(&d[pos]) == kEndSig && pos + kEndSize + get16(&d[pos + 20]) == d.size())
      return static_cast<int64_t>(pos);
  }
  return -1;
}

bool isMetadataOfMergedArchive(const std::string& name) {
  if (name.compare(0, 9, "META-INF/") != 0) return false;
  std::string rest = name.substr(9);
  if (rest.find('/') != std::string::npos) return false;
  std::string upper;
  for (char c : rest) upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  auto ends = [&](const char* s) {
    size_t n = std::strlen(s);
    return upper.size() >= n && upper.compare(upper.size() - n, n, s) == 0;
  };
  return upper == "MANIFEST.MF" || upper == "INDEX.LIST" || ends(".SF") || ends(".RSA") ||
         ends(".DSA") || ends(".EC");
}

}  // namespace

bool parseZip(const Bytes& d, ZipView& view, std::string& error) {
  view = ZipView{};
  int64_t end = findEnd(d);
  if (end < 0) {
    error = "not a zip archive (no end-of-central-directory record)";
    return false;
  }
  const uint8_t* e = &d[static_cast<size_t>(end)];
  uint16_t disk = get16(e + 4), cdDisk = get16(e + 6);
  uint16_t onDisk = get16(e + 8), total = get16(e + 10);
  uint32_t cdSize = get32(e + 12), cdOffset = get32(e + 16);
  if (total == 0xFFFF || cdSize == 0xFFFFFFFFu || cdOffset == 0xFFFFFFFFu ||
      (end >= 20 && get32(&d[static_cast<size_t>(end) - 20]) == kZip64LocatorSig)) {
    error = "zip64 archives are not supported";
    return false;
  }
  if (disk != 0 || cdDisk != 0 || onDisk != total) {
    error = "multi-volume zip archives are not supported";
    return false;
  }
  if (static_cast<uint64_t>(cdOffset) + cdSize > static_cast<uint64_t>(end)) {
    error = "zip central directory lies outside the file";
    return false;
  }
  if (static_cast<uint64_t>(cdOffset) + cdSize != static_cast<uint64_t>(end)) {
    error = "zip central directory is not where its end record says (data before the "
            "archive or between directory and end record)";
    return false;
  }
  view.endOffset = static_cast<uint64_t>(end);
  view.centralOffset = cdOffset;
  view.centralSize = cdSize;
  uint64_t pos = cdOffset;
  for (unsigned i = 0; i < total; ++i) {
    if (pos + kCentralSize > view.endOffset || get32(&d[pos]) != kCentralSig) {
      error = "zip central directory record " + std::to_string(i) + " is damaged";
      return false;
    }
    const uint8_t* c = &d[pos];
    uint16_t flags = get16(c + 8);
    uint32_t csize = get32(c + 20), usize = get32(c + 24);
    uint16_t nameLen = get16(c + 28), extraLen = get16(c + 30), commentLen = get16(c + 32);
    uint32_t local = get32(c + 42);
    uint64_t recordSize = kCentralSize + nameLen + extraLen + commentLen;
    if (pos + recordSize > view.endOffset) {
      error = "zip central directory record " + std::to_string(i) + " runs past the directory";
      return false;
    }
    if (csize == 0xFFFFFFFFu || usize == 0xFFFFFFFFu || local == 0xFFFFFFFFu) {
      error = "zip64 archives are not supported";
      return false;
    }
    ZipEntry entry;
    entry.name.assign(reinterpret_cast<const char*>(c + kCentralSize), nameLen);
    entry.centralOffset = pos;
    entry.centralSize = recordSize;
    entry.localOffset = local;
    if (local + kLocalSize > cdOffset || get32(&d[local]) != kLocalSig) {
      error = "zip entry '" + printable(entry.name) + "' has no local header where the directory says";
      return false;
    }
    const uint8_t* l = &d[local];
    uint64_t span = kLocalSize + get16(l + 26) + get16(l + 28) + static_cast<uint64_t>(csize);
    if (flags & 0x08) {
      // Data descriptor: CRC, sizes, with or without its signature.
      uint64_t at = local + span;
      span += (at + 4 <= cdOffset && get32(&d[at]) == kDescriptorSig) ? 16 : 12;
    }
    if (local + span > cdOffset) {
      error = "zip entry '" + printable(entry.name) + "' runs into the central directory";
      return false;
    }
    entry.localSize = span;
    entry.method = get16(c + 10);
    entry.dataOffset = local + kLocalSize + get16(l + 26) + get16(l + 28);
    entry.compressedSize = csize;
    entry.size = usize;
    view.entries.push_back(std::move(entry));
    pos += recordSize;
  }
  if (pos != view.endOffset) {
    error = "zip central directory size does not match its records";
    return false;
  }
  return true;
}

const ZipEntry* findEntry(const ZipView& view, const std::string& name) {
  for (const ZipEntry& e : view.entries)
    if (e.name == name) return &e;
  return nullptr;
}

bool readEntry(const Bytes& data, const ZipEntry& entry, size_t limit, std::string& out,
               std::string& error) {
  // parseZip has checked that the data lies inside the file.
  const uint8_t* p = data.data() + entry.dataOffset;
  if (entry.method == 0) {
    if (entry.compressedSize > limit) {
      error = "entry is larger than expected";
      return false;
    }
    out.assign(reinterpret_cast<const char*>(p), static_cast<size_t>(entry.compressedSize));
    return true;
  }
  if (entry.method == 8)
    return inflateRaw(p, static_cast<size_t>(entry.compressedSize), limit, out, error);
  error = "compression method " + std::to_string(entry.method) + " is not supported";
  return false;
}

Bytes withoutComment(const Bytes& data, const ZipView& view) {
  Bytes out(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(view.endOffset + kEndSize));
  put16(&out[out.size() - 2], 0);
  return out;
}

bool mergeZips(const std::vector<ZipSource>& sources, Bytes& out, std::string& error) {
  out.clear();
  Bytes central;
  std::set<std::string> taken;
  size_t count = 0;
  for (const ZipSource& src : sources) {
    const Bytes& d = *src.data;
    for (const ZipEntry& e : src.view->entries) {
      if (taken.count(e.name) != 0) continue;
      if (src.merged && isMetadataOfMergedArchive(e.name)) continue;
      taken.insert(e.name);
      if (out.size() > 0xFFFFFFFEu - e.localSize) {
        error = "merged archive would need zip64 (larger than 4 GB)";
        return false;
      }
      uint32_t newLocal = static_cast<uint32_t>(out.size());
      out.insert(out.end(), d.begin() + static_cast<std::ptrdiff_t>(e.localOffset),
                 d.begin() + static_cast<std::ptrdiff_t>(e.localOffset + e.localSize));
      size_t at = central.size();
      central.insert(central.end(), d.begin() + static_cast<std::ptrdiff_t>(e.centralOffset),
                     d.begin() + static_cast<std::ptrdiff_t>(e.centralOffset + e.centralSize));
      put32(&central[at + 42], newLocal);
      ++count;
    }
  }
  if (count >= 0xFFFF) {
    error = "merged archive would need zip64 (65535 entries or more)";
    return false;
  }
  if (static_cast<uint64_t>(out.size()) + central.size() > 0xFFFFFFFEu) {
    error = "merged archive would need zip64 (larger than 4 GB)";
    return false;
  }
  uint32_t cdOffset = static_cast<uint32_t>(out.size());
  out.insert(out.end(), central.begin(), central.end());
  uint8_t end[kEndSize] = {};
  put32(end, kEndSig);
  put16(end + 8, static_cast<uint32_t>(count));
  put16(end + 10, static_cast<uint32_t>(count));
  put32(end + 12, static_cast<uint32_t>(central.size()));
  put32(end + 16, cdOffset);
  out.insert(out.end(), end, end + kEndSize);
  return true;
}

}  // namespace qlx::wrap
