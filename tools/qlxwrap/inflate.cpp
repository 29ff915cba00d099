// Raw DEFLATE decoding (RFC 1951): stored, fixed and dynamic Huffman
// blocks. Codes are decoded canonically, one bit at a time, from the count
// of codes of each length; that is slow next to a table decoder and plenty
// for reading one manifest.
#include "tools/qlxwrap/inflate.h"

#include <vector>

namespace qlx::wrap {
namespace {

constexpr int kMaxBits = 15;

struct Huffman {
  std::vector<uint16_t> count = std::vector<uint16_t>(kMaxBits + 1, 0);  // codes per length
  std::vector<uint16_t> symbol;  // symbols ordered by code
};

class Decoder {
 public:
  Decoder(const uint8_t* data, size_t size, size_t limit, std::string& out)
      : data_(data), size_(size), limit_(limit), out_(out) {}

  bool run(std::string& error) {
    bool last = false;
    while (!last) {
      last = bits(1) == 1;
      const int type = bits(2);
      bool ok = false;
      if (type == 0) ok = stored();
      else if (type == 1) ok = fixed();
      else if (type == 2) ok = dynamic();
      if (!ok || overrun_) {
        error = overrun_ ? "compressed data ends early"
                : tooLong_ ? "entry is larger than expected"
                           : "compressed data is damaged";
        return false;
      }
    }
    return true;
  }

 private:
  int bits(int need) {
    uint32_t value = bitBuffer_;
    while (bitCount_ < need) {
      if (pos_ >= size_) {
        overrun_ = true;
        return 0;
      }
      value |= static_cast<uint32_t>(data_[pos_++]) << bitCount_;
      bitCount_ += 8;
    }
    bitBuffer_ = value >> need;
    bitCount_ -= need;
    return static_cast<int>(value & ((1u << need) - 1));
  }

  bool emit(char c) {
    if (out_.size() >= limit_) {
      tooLong_ = true;
      return false;
    }
    out_.push_back(c);
    return true;
  }

  bool stored() {
    bitBuffer_ = 0;
    bitCount_ = 0;
    if (pos_ + 4 > size_) return overrun_ = true, false;
    const unsigned length = data_[pos_] | data_[pos_ + 1] << 8;
    const unsigned complement = data_[pos_ + 2] | data_[pos_ + 3] << 8;
    pos_ += 4;
    if (length != (~complement & 0xFFFFu)) return false;
    if (pos_ + length > size_) return overrun_ = true, false;
    for (unsigned i = 0; i < length; ++i)
      if (!emit(static_cast<char>(data_[pos_ + i]))) return false;
    pos_ += length;
    return true;
  }

  // Builds the canonical code from code lengths; false when the lengths
  // describe more codes than fit (an incomplete code is allowed).
  static bool build(Huffman& h, const uint8_t* lengths, int n) {
    h.symbol.assign(static_cast<size_t>(n), 0);
    for (int s = 0; s < n; ++s) ++h.count[lengths[s]];
    int left = 1;
    for (int len = 1; len <= kMaxBits; ++len) {
      left = (left << 1) - h.count[len];
      if (left < 0) return false;
    }
    std::vector<uint16_t> offset(kMaxBits + 2, 0);
    for (int len = 1; len <= kMaxBits; ++len) offset[len + 1] = offset[len] + h.count[len];
    for (int s = 0; s < n; ++s)
      if (lengths[s] != 0) h.symbol[offset[lengths[s]]++] = static_cast<uint16_t>(s);
    return true;
  }

  int decode(const Huffman& h) {
    int code = 0, first = 0, index = 0;
    for (int len = 1; len <= kMaxBits; ++len) {
      code |= bits(1);
      if (overrun_) return -1;
      const int count = h.count[len];
      if (code - count < first) return h.symbol[static_cast<size_t>(index + (code - first))];
      index += count;
      first = (first + count) << 1;
      code <<= 1;
    }
    return -1;
  }

  bool codes(const Huffman& literals, const Huffman& distances) {
    static const uint16_t kLengthBase[] = {3,  4,  5,  6,  7,  8,  9,   10,  11,  13,
                                           15, 17, 19, 23, 27, 31, 35,  43,  51,  59,
                                           67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const uint8_t kLengthExtra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    static const uint16_t kDistanceBase[] = {1,    2,    3,    4,    5,    7,    9,    13,
                                             17,   25,   33,   49,   65,   97,   129,  193,
                                             257,  385,  513,  769,  1025, 1537, 2049, 3073,
                                             4097, 6145, 8193, 12289, 16385, 24577};
    static const uint8_t kDistanceExtra[] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                             6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
    for (;;) {
      const int symbol = decode(literals);
      if (symbol < 0) return false;
      if (symbol < 256) {
        if (!emit(static_cast<char>(symbol))) return false;
        continue;
      }
      if (symbol == 256) return true;
      const int l = symbol - 257;
      if (l >= 29) return false;
      const size_t length = kLengthBase[l] + static_cast<size_t>(bits(kLengthExtra[l]));
      const int d = decode(distances);
      if (d < 0 || d >= 30) return false;
      const size_t distance = kDistanceBase[d] + static_cast<size_t>(bits(kDistanceExtra[d]));
      if (overrun_ || distance > out_.size()) return false;
      for (size_t i = 0; i < length; ++i)
        if (!emit(out_[out_.size() - distance])) return false;
    }
  }

  bool fixed() {
    uint8_t lengths[288 + 30];
    for (int s = 0; s < 288; ++s) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    for (int s = 0; s < 30; ++s) lengths[288 + s] = 5;
    Huffman literals, distances;
    build(literals, lengths, 288);
    build(distances, lengths + 288, 30);
    return codes(literals, distances);
  }

  bool dynamic() {
    const int literalCount = bits(5) + 257;
    const int distanceCount = bits(5) + 1;
    const int lengthCount = bits(4) + 4;
    if (overrun_ || literalCount > 286 || distanceCount > 30) return false;
    static const uint8_t kOrder[19] = {16, 17, 18, 0,  8, 7,  9, 6,  10, 5,
                                       11, 4,  12, 3, 13, 2, 14, 1, 15};
    uint8_t lengths[286 + 30] = {};
    for (int i = 0; i < lengthCount; ++i) lengths[kOrder[i]] = static_cast<uint8_t>(bits(3));
    Huffman lengthCode;
    if (!build(lengthCode, lengths, 19)) return false;
    int index = 0;
    while (index < literalCount + distanceCount) {
      const int symbol = decode(lengthCode);
      if (symbol < 0) return false;
      if (symbol < 16) {
        lengths[index++] = static_cast<uint8_t>(symbol);
        continue;
      }
      uint8_t repeated = 0;
      int times;
      if (symbol == 16) {
        if (index == 0) return false;
        repeated = lengths[index - 1];
        times = 3 + bits(2);
      } else if (symbol == 17) {
        times = 3 + bits(3);
      } else {
        times = 11 + bits(7);
      }
      if (overrun_ || index + times > literalCount + distanceCount) return false;
      while (times-- > 0) lengths[index++] = repeated;
    }
    if (lengths[256] == 0) return false;  // no end-of-block code
    Huffman literals, distances;
    if (!build(literals, lengths, literalCount) ||
        !build(distances, lengths + literalCount, distanceCount))
      return false;
    return codes(literals, distances);
  }

  const uint8_t* data_;
  size_t size_;
  size_t limit_;
  std::string& out_;
  size_t pos_ = 0;
  uint32_t bitBuffer_ = 0;
  int bitCount_ = 0;
  bool overrun_ = false;
  bool tooLong_ = false;
};

}  // namespace

bool inflateRaw(const uint8_t* data, size_t size, size_t limit, std::string& out,
                std::string& error) {
  out.clear();
  return Decoder(data, size, limit, out).run(error);
}

}  // namespace qlx::wrap
