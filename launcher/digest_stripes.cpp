// The digest's hot loop (see digest_stripes.h and digest.cpp for why a
// single changed byte always changes the result).
#include "launcher/digest_stripes.h"

#include <cstring>

namespace qlx {
namespace {

inline uint64_t load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

}  // namespace

void mixStripes(uint64_t lanes[kDigestLanes], const uint8_t* p, uint64_t count) {
  // Local copies keep the lanes in registers; the eight chains are
  // independent, so the multiplies of different lanes overlap.
  uint64_t l[kDigestLanes];
  for (int i = 0; i < kDigestLanes; ++i) l[i] = lanes[i];
  for (uint64_t s = 0; s < count; ++s, p += kDigestStripe) {
    for (int i = 0; i < kDigestLanes; ++i) {
      l[i] = rotl64(l[i] + load64(p + 8 * i) * kDigestP2, 31) * kDigestP1;
    }
  }
  for (int i = 0; i < kDigestLanes; ++i) lanes[i] = l[i];
}

}  // namespace qlx
