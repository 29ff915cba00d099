// One block of the string table in the resources of a PE image (block b
// holds the ids 16(b-1) .. 16(b-1)+15 as 16 counted UTF-16 strings). The
// generator uses it to write the service identity.
#pragma once

#include <string>
#include <vector>

#include "tools/qlxwrap/resource_tree.h"
#include "tools/qlxwrap/wrap.h"

namespace qlx::wrap {

bool isPeImage(const Bytes& image);

bool decodeStringBlock(const Bytes& data, std::vector<std::u16string>& strings);
Bytes encodeStringBlock(const std::vector<std::u16string>& strings);

// The 16 strings of a block (language 1033 or the first one present).
bool readStringBlock(const Bytes& image, int block, std::vector<std::u16string>& strings,
                     std::string& error);

// Replaces strings of one block in `tree` (index within the block -> text)
// and keeps the others. The block may not grow beyond the room the stub
// reserved: the launcher reads these texts into buffers of that size.
bool patchStringBlock(ResourceTree& tree, int block,
                      const std::vector<std::pair<int, std::u16string>>& replacements,
                      std::string& error);

// The same on a whole image, through the resource writer.
bool patchStringBlock(Bytes& image, int block,
                      const std::vector<std::pair<int, std::u16string>>& replacements,
                      std::string& error);

}  // namespace qlx::wrap
