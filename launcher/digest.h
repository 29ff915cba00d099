// The integrity digest of a wrapped file: 128 bits over the launcher image,
// the configuration block and the archive, computed at every start, so it
// has to run at memory speed.
#pragma once

#include <array>
#include <cstdint>

#include "launcher/payload.h"

namespace qlx {

using Digest = std::array<uint8_t, kDigestSize>;

// The digest of a wrapped file laid out as `layout` describes. Skips the
// digest field itself, the trailing bytes after the archive, and the PE
// checksum and certificate-table entry, which code signing rewrites.
Digest fileDigest(const uint8_t* data, const PayloadLayout& layout);

// The raw hash over one byte range with a seed (exposed for tests/bench).
Digest hashBytes(const uint8_t* data, uint64_t size);

}  // namespace qlx
