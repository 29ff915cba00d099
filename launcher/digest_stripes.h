// The lane step of the integrity digest over whole 64-byte stripes: the one
// loop that reads every byte of the file at every start. It has a file of
// its own so that it alone is built for speed (launcher/CMakeLists.txt);
// the rest of the digest runs a few times per start and is built for size.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qlx {

inline constexpr int kDigestLanes = 8;
inline constexpr size_t kDigestStripe = kDigestLanes * 8;
inline constexpr uint64_t kDigestP1 = 0x9E3779B185EBCA87ull;
inline constexpr uint64_t kDigestP2 = 0xC2B2AE3D27D4EB4Full;

inline uint64_t rotl64(uint64_t v, int r) { return (v << r) | (v >> (64 - r)); }

// s' = rotl(s + w * P2, 31) * P1 for word k of each stripe into lane k.
void mixStripes(uint64_t lanes[kDigestLanes], const uint8_t* p, uint64_t count);

}  // namespace qlx
