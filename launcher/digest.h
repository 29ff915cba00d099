// The integrity digest of a wrapped file: 128 bits over the launcher image,
// the configuration block and the archive, computed at every start, so it
// has to run at memory speed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "launcher/function_ref.h"
#include "launcher/payload.h"

namespace qlx {

using Digest = std::array<uint8_t, kDigestSize>;

// The digest of a wrapped file laid out as `layout` describes. Skips the
// digest field itself, the trailing bytes after the archive, and the PE
// checksum and certificate-table entry, which code signing rewrites.
Digest fileDigest(const uint8_t* data, const PayloadLayout& layout);

// Reads exactly `size` bytes at `offset` into `out`; false when it cannot.
// Borrowed for the call it is passed to.
using ReadAt = FunctionRef<bool(uint64_t offset, uint8_t* out, size_t size)>;

// The same digest, over a file read piece by piece through a buffer. This
// is how the launcher checks itself at every start: reading copies pages
// the system already holds, where a fresh mapping of a large file pays a
// page fault every few pages (several times the cost of the hash itself).
// False when the layout does not fit the file or a read fails.
bool streamedFileDigest(const ReadAt& read, const PayloadLayout& layout, Digest& out);

// The raw hash over one byte range with a seed (exposed for tests/bench).
Digest hashBytes(const uint8_t* data, uint64_t size);

}  // namespace qlx
