// The resources of a PE image as a tree (type -> name -> language -> data)
// that can be read from an image, changed, and written back as a complete
// resource section. Every resource the generator does not touch is carried
// over byte for byte, so the launcher finds its messages and icons where
// they were.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "tools/qlxwrap/wrap.h"

namespace qlx::wrap {

// Resource types the generator writes or reports.
constexpr uint32_t kRtIcon = 3;
constexpr uint32_t kRtString = 6;
constexpr uint32_t kRtGroupIcon = 14;
constexpr uint32_t kRtVersion = 16;
constexpr uint32_t kRtManifest = 24;
constexpr uint32_t kLangEnUs = 1033;

// A type or name: a number, or (rarely, never in our stub) a string.
struct ResourceKey {
  bool named = false;
  uint32_t id = 0;
  std::u16string name;
  static ResourceKey of(uint32_t id) { return ResourceKey{false, id, {}}; }
  // Named entries come first, each kind in ascending order, as the loader's
  // binary search expects.
  bool operator<(const ResourceKey& o) const {
    if (named != o.named) return named;
    return named ? name < o.name : id < o.id;
  }
};

struct ResourceData {
  Bytes bytes;
  uint32_t codePage = 0;
};

using LanguageMap = std::map<uint32_t, ResourceData>;
using NameMap = std::map<ResourceKey, LanguageMap>;
using ResourceTree = std::map<ResourceKey, NameMap>;

// Reads the tree of a PE image. An image without resources gives an empty
// tree. Never reads outside `image`.
bool readResources(const Bytes& image, ResourceTree& tree, std::string& error);

// The section bytes of `tree` placed at `rva` (directories, data entries,
// names, then the data, each 8-byte aligned).
Bytes serializeResources(const ResourceTree& tree, uint32_t rva);

// Replaces the image's resource section with `tree`, moving the sections
// that follow it (only base relocations may) and updating the section
// table, the resource directory entry, the image and data sizes.
bool writeResources(Bytes& image, const ResourceTree& tree, std::string& error);

// The data of type/id in language 1033, or else the first language.
const ResourceData* findResource(const ResourceTree& tree, uint32_t type, uint32_t id);

// Sets type/id to `data`, replacing every language it had.
void setResource(ResourceTree& tree, uint32_t type, uint32_t id, Bytes data);

// The PE checksum of a whole file (the field itself counted as zero).
uint32_t peChecksum(const Bytes& file, uint64_t checksumOffset);

}  // namespace qlx::wrap
