// The integrity digest: a 128-bit multiply-rotate hash over 64-byte stripes
// in eight independent 64-bit lanes, and the rule for which bytes of a
// wrapped file it covers.
//
// Why a single-byte change always changes the digest (for inputs of equal
// length, which a byte flip keeps):
//  * Word k of the stream (8 bytes, little-endian) feeds only lane k mod 8.
//    A changed byte changes exactly one word, so exactly one lane sees a
//    different input, once.
//  * The lane step s' = rotl(s + w * P2, 31) * P1 is, for a fixed state s,
//    injective in w (odd multiply, add, rotate and odd multiply are each a
//    bijection of 64-bit words), so the lane states differ right after the
//    changed word; and for a fixed w it is a bijection of s, so every later
//    step keeps them different.
//  * The tail is zero-padded to a full stripe (the length, mixed in at the
//    end, tells "abc" from "abc\0"), so a change there is an ordinary word
//    change too.
//  * Each lane is finalised by a bijection (xorshift-multiply avalanche).
//    The 128-bit result folds the even lanes into x and the odd lanes into y
//    by XOR: with exactly one lane different, exactly one of x, y differs.
//    The closing mix of (x, y) with the length is a bijection of the pair.
// Hence the digests differ. Nothing here needs more than SSE2-era x86-64.
#include "launcher/digest.h"

#include <cstring>
#include <vector>

#include "launcher/digest_stripes.h"

namespace qlx {
namespace {

constexpr uint64_t kP1 = kDigestP1;
constexpr uint64_t kP3 = 0x165667B19E3779F9ull;
constexpr uint64_t kP4 = 0xFF51AFD7ED558CCDull;
constexpr uint64_t kP5 = 0xC4CEB9FE1A85EC53ull;
constexpr int kLanes = kDigestLanes;
constexpr size_t kStripe = kDigestStripe;

inline uint64_t avalanche(uint64_t v) {
  v ^= v >> 33;
  v *= kP4;
  v ^= v >> 29;
  v *= kP5;
  v ^= v >> 32;
  return v;
}

// Streaming form, so the file digest can skip fields without copying the
// file: bytes are consumed in 64-byte stripes, directly from the input
// whenever nothing is buffered.
class Hasher {
 public:
  Hasher() {
    for (int i = 0; i < kLanes; ++i) lanes_[i] = kP3 * static_cast<uint64_t>(2 * i + 1) + kP1;
  }

  void update(const uint8_t* data, uint64_t size) {
    if (size == 0) return;  // data may be null then
    total_ += size;
    if (buffered_ != 0) {
      size_t take = kStripe - buffered_;
      if (take > size) take = static_cast<size_t>(size);
      std::memcpy(buffer_ + buffered_, data, take);
      buffered_ += take;
      data += take;
      size -= take;
      if (buffered_ < kStripe) return;
      stripes(buffer_, 1);
      buffered_ = 0;
    }
    uint64_t whole = size / kStripe;
    stripes(data, whole);
    data += whole * kStripe;
    size -= whole * kStripe;
    std::memcpy(buffer_, data, static_cast<size_t>(size));
    buffered_ = static_cast<size_t>(size);
  }

  Digest finish() {
    if (buffered_ != 0) {
      std::memset(buffer_ + buffered_, 0, kStripe - buffered_);
      stripes(buffer_, 1);
    }
    uint64_t x = 0, y = 0;
    for (int i = 0; i < kLanes; i += 2) {
      x ^= avalanche(lanes_[i] + static_cast<uint64_t>(i));
      y ^= avalanche(lanes_[i + 1] + static_cast<uint64_t>(i + 1));
    }
    // Bijective on (x, y) for a fixed length.
    x ^= total_ * kP1;
    y += rotl64(x, 23);
    x = avalanche(x);
    y ^= rotl64(x, 41) + total_;
    y = avalanche(y);
    x += y;
    Digest out;
    for (int i = 0; i < 8; ++i) {
      out[i] = static_cast<uint8_t>(x >> (8 * i));
      out[8 + i] = static_cast<uint8_t>(y >> (8 * i));
    }
    return out;
  }

 private:
  void stripes(const uint8_t* p, uint64_t count) { mixStripes(lanes_, p, count); }

  uint64_t lanes_[kLanes];
  uint8_t buffer_[kStripe];
  size_t buffered_ = 0;
  uint64_t total_ = 0;
};

uint32_t read32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

struct Range {
  uint64_t begin, end;
};

// The PE fields that code signing rewrites (checksum, certificate-table
// directory entry), when the file is a PE image and they lie before `limit`.
// Only the few header bytes that decide it are read. Returns how many
// ranges were written (0 or 2), sorted.
int signingFields(const ReadAt& read, uint64_t limit, Range out[2]) {
  uint8_t mz[2], lfanew[4], signature[4], magicBytes[2];
  if (limit < 0x40 || !read(0, mz, 2) || mz[0] != 'M' || mz[1] != 'Z' ||
      !read(0x3C, lfanew, 4)) {
    return 0;
  }
  uint64_t pe = read32(lfanew);
  if (pe + 24 + 2 > limit || !read(pe, signature, 4) ||
      std::memcmp(signature, "PE\0\0", 4) != 0) {
    return 0;
  }
  uint64_t opt = pe + 24;
  if (!read(opt, magicBytes, 2)) return 0;
  unsigned magic = magicBytes[0] | magicBytes[1] << 8;
  uint64_t security;
  if (magic == 0x20B) {
    security = opt + 144;
  } else if (magic == 0x10B) {
    security = opt + 128;
  } else {
    return 0;
  }
  uint64_t checksum = opt + 64;
  if (security + 8 > limit) return 0;
  out[0] = {checksum, checksum + 4};
  out[1] = {security, security + 8};
  return 2;
}

// The byte ranges of a wrapped file that the digest covers, in file order,
// or -1 for a layout that does not fit the file.
int coveredRanges(const ReadAt& read, const PayloadLayout& layout, Range out[4]) {
  const uint64_t digestAt = static_cast<uint64_t>(layout.digestOffset);
  const uint64_t trailing = static_cast<uint64_t>(layout.trailingLength);
  if (layout.digestOffset < 0 || layout.trailingLength < 0 || trailing > layout.fileSize ||
      digestAt > layout.fileSize - trailing ||
      kDigestSize > layout.fileSize - trailing - digestAt) {
    return -1;
  }
  Range skip[2];
  const int skipped = signingFields(read, digestAt, skip);
  int n = 0;
  uint64_t pos = 0;
  for (int i = 0; i < skipped; ++i) {
    out[n++] = {pos, skip[i].begin};
    pos = skip[i].end;
  }
  out[n++] = {pos, digestAt};
  out[n++] = {digestAt + kDigestSize, layout.fileSize - trailing};
  return n;
}

// The read buffer: up to 256 KB, which stays in the cache while it is
// hashed and makes the calls cost nothing beside the copying; a sixteenth
// of a smaller file, since each fresh page of the buffer costs a page fault
// that a small file does not earn back.
size_t readChunkFor(uint64_t bytes) {
  constexpr uint64_t kLargest = 256 * 1024, kSmallest = 16 * 1024, kPage = 4096;
  uint64_t chunk = bytes / 16;
  if (chunk > kLargest) chunk = kLargest;
  if (chunk < kSmallest) chunk = kSmallest;
  return static_cast<size_t>((chunk + kPage - 1) / kPage * kPage);
}

}  // namespace

Digest hashBytes(const uint8_t* data, uint64_t size) {
  Hasher h;
  h.update(data, size);
  return h.finish();
}

Digest fileDigest(const uint8_t* data, const PayloadLayout& layout) {
  Hasher h;
  const auto fromMemory = [data](uint64_t offset, uint8_t* out, size_t size) {
    std::memcpy(out, data + offset, size);  // only ever asked inside the checked limits
    return true;
  };
  Range ranges[4];
  const int n = coveredRanges(fromMemory, layout, ranges);
  if (n < 0) {
    // Not a valid layout: digest the whole file so the caller's comparison
    // fails rather than reading outside it.
    h.update(data, layout.fileSize);
    return h.finish();
  }
  for (int i = 0; i < n; ++i) h.update(data + ranges[i].begin, ranges[i].end - ranges[i].begin);
  return h.finish();
}

bool streamedFileDigest(const ReadAt& read, const PayloadLayout& layout, Digest& out) {
  Range ranges[4];
  const int n = coveredRanges(read, layout, ranges);
  if (n < 0) return false;
  const size_t chunk = readChunkFor(layout.fileSize);
  std::vector<uint8_t> buffer(chunk);
  Hasher h;
  for (int i = 0; i < n; ++i) {
    for (uint64_t pos = ranges[i].begin; pos < ranges[i].end;) {
      const uint64_t left = ranges[i].end - pos;
      const size_t size = left < chunk ? static_cast<size_t>(left) : chunk;
      if (!read(pos, buffer.data(), size)) return false;
      h.update(buffer.data(), size);
      pos += size;
    }
  }
  out = h.finish();
  return true;
}

}  // namespace qlx
