// Reading and rewriting one block of the string table in the resources of
// a PE image (block b holds the ids 16(b-1) .. 16(b-1)+15 as 16 counted
// UTF-16 strings). The generator uses it to write the service identity.
#pragma once

#include <string>

#include "tools/qlxwrap/wrap.h"

namespace qlx::wrap {

bool isPeImage(const Bytes& image);

struct StringBlockLocation {
  uint64_t fileOffset = 0;  // of the block's data
  uint32_t size = 0;        // bytes of the data entry
  uint64_t sizeFieldOffset = 0;
};

// Finds RT_STRING / block / language 1033 (or the first language present).
bool findStringBlock(const Bytes& image, int block, StringBlockLocation& where,
                     std::string& error);

// The 16 strings of a block.
bool readStringBlock(const Bytes& image, int block, std::vector<std::u16string>& strings,
                     std::string& error);

// Replaces strings of one block (index within the block -> text) and keeps
// the others. The block keeps its data size; the new data must fit in it.
bool patchStringBlock(Bytes& image, int block,
                      const std::vector<std::pair<int, std::u16string>>& replacements,
                      std::string& error);

}  // namespace qlx::wrap
