// The integrity digest: stability, sensitivity to every covered byte, and
// the bytes a wrapped file's digest deliberately leaves out.
#include "launcher/digest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace qlx {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes pattern(size_t n, uint32_t seed = 1) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    b[i] = static_cast<uint8_t>(seed >> 16);
  }
  return b;
}

std::string hex(const Digest& d) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (uint8_t b : d) {
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

// Wrapped files carry this digest: a change of the function would make
// every existing program refuse to start, so its values are pinned.
TEST(DigestTest, KnownValuesStayTheSame) {
  const Bytes abc = {'a', 'b', 'c'};
  EXPECT_EQ(hex(hashBytes(nullptr, 0)), hex(hashBytes(abc.data(), 0)));
  EXPECT_EQ(hex(hashBytes(nullptr, 0)), "f65da87ab494869a0d315f337e16e714");
  EXPECT_EQ(hex(hashBytes(abc.data(), 3)), "6b2392407a1a9bcefe616560df2eaaaa");
  Bytes big = pattern(1000);
  EXPECT_EQ(hex(hashBytes(big.data(), big.size())), "956dd28b31f527e7387e316652e2ab8f");
}

TEST(DigestTest, EveryBitFlipChangesTheDigest) {
  // Sizes around the 8-byte word and the 64-byte stripe, and the tail.
  for (size_t n : {1u, 7u, 8u, 9u, 63u, 64u, 65u, 130u, 200u}) {
    Bytes data = pattern(n, static_cast<uint32_t>(n));
    const Digest base = hashBytes(data.data(), n);
    for (size_t i = 0; i < n; ++i) {
      for (int bit = 0; bit < 8; ++bit) {
        data[i] ^= static_cast<uint8_t>(1u << bit);
        EXPECT_NE(hashBytes(data.data(), n), base) << "size " << n << " byte " << i << " bit " << bit;
        data[i] ^= static_cast<uint8_t>(1u << bit);
      }
    }
  }
}

TEST(DigestTest, LengthIsPartOfTheDigest) {
  const Bytes zeros(130, 0);
  for (size_t n = 0; n < 129; ++n)
    EXPECT_NE(hashBytes(zeros.data(), n), hashBytes(zeros.data(), n + 1)) << n;
}

TEST(DigestTest, DifferentWordsInOneLaneDoNotCancel) {
  // Two changes in the same lane, one stripe apart.
  Bytes a = pattern(256), b = a;
  b[3] ^= 0x40;
  b[64 + 3] ^= 0x40;
  EXPECT_NE(hashBytes(a.data(), a.size()), hashBytes(b.data(), b.size()));
}

// A layout of a plain (non-PE) file: image, block, L, digest, archive, tail.
PayloadLayout layoutFor(size_t size, int64_t digestOffset, int64_t trailing) {
  PayloadLayout l;
  l.fileSize = size;
  l.digestOffset = digestOffset;
  l.trailingLength = trailing;
  return l;
}

TEST(DigestTest, FileDigestCoversAllButDigestAndTrailingBytes) {
  Bytes file = pattern(500);
  const PayloadLayout layout = layoutFor(file.size(), 300, 40);
  const Digest base = fileDigest(file.data(), layout);

  Bytes covered(file.begin(), file.begin() + 300);
  covered.insert(covered.end(), file.begin() + 316, file.end() - 40);
  EXPECT_EQ(base, hashBytes(covered.data(), covered.size()));

  for (size_t i = 0; i < file.size(); ++i) {
    Bytes changed = file;
    changed[i] ^= 0x01;
    const bool ignored = (i >= 300 && i < 316) || i >= 460;
    if (ignored) {
      EXPECT_EQ(fileDigest(changed.data(), layout), base) << "byte " << i;
    } else {
      EXPECT_NE(fileDigest(changed.data(), layout), base) << "byte " << i;
    }
  }
}

// A minimal PE32+ header: "MZ", e_lfanew, "PE\0\0", optional header magic.
Bytes peFile(size_t size) {
  Bytes f = pattern(size, 7);
  f[0] = 'M';
  f[1] = 'Z';
  const uint32_t pe = 0x80;
  std::memcpy(&f[0x3C], &pe, 4);
  std::memcpy(&f[pe], "PE\0\0", 4);
  f[pe + 24] = 0x0B;
  f[pe + 25] = 0x02;
  return f;
}

TEST(DigestTest, SigningFieldsOfAPeImageAreLeftOut) {
  Bytes file = peFile(1200);
  const PayloadLayout layout = layoutFor(file.size(), 1000, 0);
  const Digest base = fileDigest(file.data(), layout);
  const size_t checksum = 0x80 + 24 + 64, security = 0x80 + 24 + 144;
  for (size_t i = 0; i < 1000; ++i) {
    Bytes changed = file;
    changed[i] ^= 0x80;
    const bool ignored = (i >= checksum && i < checksum + 4) || (i >= security && i < security + 8);
    EXPECT_EQ(fileDigest(changed.data(), layout) == base, ignored) << "byte " << i;
  }
  // What code signing does: new checksum and certificate entry, bytes after the archive.
  Bytes signedFile = file;
  signedFile[checksum] = 0x55;
  signedFile[security + 5] = 0x10;
  signedFile.insert(signedFile.end(), 700, 0xCC);
  PayloadLayout signedLayout = layoutFor(signedFile.size(), 1000, 700);
  EXPECT_EQ(fileDigest(signedFile.data(), signedLayout), base);
}

TEST(DigestTest, BrokenLayoutsDoNotReadOutsideTheFile) {
  Bytes file = pattern(64);
  for (auto [digestOffset, trailing] :
       std::vector<std::pair<int64_t, int64_t>>{{-1, 0}, {60, 0}, {0, 70}, {50, -3}, {64, 0}}) {
    const PayloadLayout layout = layoutFor(file.size(), digestOffset, trailing);
    EXPECT_EQ(fileDigest(file.data(), layout), hashBytes(file.data(), file.size()));
  }
}


// The file read piece by piece gives the digest of the file in memory,
// whatever the layout, the size against the read buffer and the place of
// the PE header; a layout that does not fit, or a read that fails, gives none.
TEST(DigestTest, StreamedDigestMatchesTheMappedOne) {
  auto far = [] {
    Bytes f = peFile(700 * 1024);
    const uint32_t pe = 300 * 1024;  // the header beyond the first read
    std::memcpy(&f[0x3C], &pe, 4);
    std::memcpy(&f[pe], "PE\0\0", 4);
    f[pe + 24] = 0x0B;
    f[pe + 25] = 0x01;
    return f;
  };
  struct Case {
    const char* name;
    Bytes file;
    int64_t digestOffset, trailing;
  };
  const Case cases[] = {
      {"small plain file", pattern(500), 300, 40},
      {"PE image", peFile(1200), 1000, 0},
      {"PE image over several reads, signed", peFile(600 * 1024 + 13), 400 * 1024, 70000},
      {"header far into the file", far(), 650 * 1024, 0},
      {"digest at the very end", pattern(1000), 984, 0},
  };
  for (const Case& c : cases) {
    const PayloadLayout layout = layoutFor(c.file.size(), c.digestOffset, c.trailing);
    size_t reads = 0;
    const auto read = [&](uint64_t offset, uint8_t* out, size_t size) {
      ++reads;
      if (offset + size > c.file.size()) return false;
      std::memcpy(out, c.file.data() + offset, size);
      return true;
    };
    Digest streamed{};
    ASSERT_TRUE(streamedFileDigest(read, layout, streamed)) << c.name;
    EXPECT_EQ(streamed, fileDigest(c.file.data(), layout)) << c.name;
    // Pieces of a sixteenth of the file or more, and the header's few reads.
    EXPECT_LT(reads, 32u) << c.name;
  }

  Bytes file = pattern(64);
  for (auto [digestOffset, trailing] :
       std::vector<std::pair<int64_t, int64_t>>{{-1, 0}, {60, 0}, {0, 70}, {50, -3}, {64, 0}}) {
    const auto read = [&](uint64_t offset, uint8_t* out, size_t size) {
      if (offset + size > file.size()) return false;
      std::memcpy(out, file.data() + offset, size);
      return true;
    };
    Digest unused{};
    EXPECT_FALSE(streamedFileDigest(read, layoutFor(file.size(), digestOffset, trailing), unused))
        << digestOffset << " " << trailing;
  }

  Bytes big = pattern(600 * 1024);
  const auto failing = [&](uint64_t offset, uint8_t* out, size_t size) {
    if (offset + size > 500 * 1024) return false;  // the file shrank under the reader
    std::memcpy(out, big.data() + offset, size);
    return true;
  };
  Digest unused{};
  EXPECT_FALSE(streamedFileDigest(failing, layoutFor(big.size(), 550 * 1024, 0), unused));
}

}  // namespace
}  // namespace qlx
