// Reading, serializing and replacing the resource section of a PE image.
// The writer lays the section out in the order the loader walks it (three
// levels of directories, then data entries, names and data), so a rebuilt
// section needs no fix-ups beyond the RVAs written here.
#include "tools/qlxwrap/resource_tree.h"

#include <algorithm>

#include "tools/qlxwrap/pe_image.h"

namespace qlx::wrap {
namespace {

constexpr unsigned kResourceDirectory = 2;
constexpr unsigned kRelocDirectory = 5;

uint64_t alignUp(uint64_t v, uint64_t a) { return (v + a - 1) / a * a; }

struct Reader {
  const Bytes& image;
  const PeLayout& pe;
  uint64_t base;  // file offset of the resource section start
  uint32_t size;
  int entries = 0;

  bool readKey(uint32_t word, ResourceKey& key) const {
    if ((word & 0x80000000u) == 0) {
      key = ResourceKey::of(word);
      return true;
    }
    uint64_t at = base + (word & 0x7FFFFFFFu);
    if ((word & 0x7FFFFFFFu) + 2ull > size || !inside(image, at, 2)) return false;
    unsigned len = get16(image, at);
    if ((word & 0x7FFFFFFFu) + 2ull + 2ull * len > size) return false;
    key.named = true;
    key.name.clear();
    for (unsigned i = 0; i < len; ++i) key.name += static_cast<char16_t>(get16(image, at + 2 + 2 * i));
    return true;
  }

  // Calls `each(key, target, isDirectory)` for every entry of one directory.
  template <typename F>
  bool walk(uint32_t dir, F each) {
    if (dir + 16ull > size) return false;
    unsigned count = get16(image, base + dir + 12) + get16(image, base + dir + 14);
    if (dir + 16ull + 8ull * count > size) return false;
    for (unsigned i = 0; i < count; ++i) {
      if (++entries > 65536) return false;  // a loop in a damaged tree
      uint64_t e = base + dir + 16 + 8ull * i;
      ResourceKey key;
      uint32_t target = get32(image, e + 4);
      if (!readKey(get32(image, e), key) ||
          !each(key, target & 0x7FFFFFFFu, (target & 0x80000000u) != 0))
        return false;
    }
    return true;
  }

  bool readData(uint32_t entry, ResourceData& out) const {
    if (entry + 16ull > size) return false;
    uint32_t rva = get32(image, base + entry), length = get32(image, base + entry + 4);
    uint64_t offset;
    if (!pe.rvaToOffset(rva, length, offset) || !inside(image, offset, length)) return false;
    out.bytes.assign(image.begin() + static_cast<std::ptrdiff_t>(offset),
                     image.begin() + static_cast<std::ptrdiff_t>(offset + length));
    out.codePage = get32(image, base + entry + 8);
    return true;
  }
};

void putKey(Bytes& out, uint64_t at, const ResourceKey& key, std::vector<std::pair<uint64_t,
            const std::u16string*>>& names) {
  if (key.named) names.emplace_back(at, &key.name);
  else put32(out, at, key.id);
}

bool isNamed(const ResourceKey& key) { return key.named; }
bool isNamed(uint32_t) { return false; }

const PeSection* sectionAt(const PeLayout& pe, uint32_t rva) {
  for (const PeSection& s : pe.sections) {
    if (rva >= s.virtualAddress && rva < s.virtualAddress + std::max(s.virtualSize, s.rawSize))
      return &s;
  }
  return nullptr;
}

}  // namespace

bool readResources(const Bytes& image, ResourceTree& tree, std::string& error) {
  tree.clear();
  PeLayout pe;
  if (!parsePe(image, pe, error)) return false;
  uint32_t rva = pe.directoryAddress(image, kResourceDirectory);
  uint32_t size = pe.directorySize(image, kResourceDirectory);
  if (rva == 0 || size == 0) return true;
  uint64_t base;
  if (!pe.rvaToOffset(rva, size, base)) {
    error = "the resource directory lies outside the file";
    return false;
  }
  Reader r{image, pe, base, size};
  bool ok = r.walk(0, [&](const ResourceKey& type, uint32_t t, bool tDir) {
    if (!tDir) return false;
    return r.walk(t, [&](const ResourceKey& name, uint32_t n, bool nDir) {
      if (!nDir) return false;
      return r.walk(n, [&](const ResourceKey& lang, uint32_t l, bool lDir) {
        if (lDir || lang.named) return false;
        return r.readData(l, tree[type][name][lang.id]);
      });
    });
  });
  if (!ok) {
    tree.clear();
    error = "the resource directory is damaged";
  }
  return ok;
}

Bytes serializeResources(const ResourceTree& tree, uint32_t rva) {
  // Sizes first: every directory, then the data entries.
  uint64_t dirBytes = 16 + 8ull * tree.size(), leaves = 0;
  for (const auto& type : tree) {
    dirBytes += 16 + 8ull * type.second.size();
    for (const auto& name : type.second) {
      dirBytes += 16 + 8ull * name.second.size();
      leaves += name.second.size();
    }
  }
  Bytes out(dirBytes + 16 * leaves, 0);
  std::vector<std::pair<uint64_t, const std::u16string*>> names;
  std::vector<std::pair<uint64_t, const ResourceData*>> data;
  uint64_t nextDir = 16 + 8ull * tree.size(), nextLeaf = dirBytes;
  auto header = [&](uint64_t at, const auto& map) {
    unsigned named = 0;
    for (const auto& e : map) named += isNamed(e.first) ? 1 : 0;
    put16(out, at + 12, named);
    put16(out, at + 14, static_cast<uint32_t>(map.size() - named));
  };
  header(0, tree);
  uint64_t slot = 16;
  for (const auto& type : tree) {
    putKey(out, slot, type.first, names);
    put32(out, slot + 4, 0x80000000u | static_cast<uint32_t>(nextDir));
    slot += 8;
    uint64_t typeDir = nextDir;
    header(typeDir, type.second);
    nextDir += 16 + 8ull * type.second.size();
    uint64_t nameSlot = typeDir + 16;
    for (const auto& name : type.second) {
      putKey(out, nameSlot, name.first, names);
      put32(out, nameSlot + 4, 0x80000000u | static_cast<uint32_t>(nextDir));
      nameSlot += 8;
      uint64_t nameDir = nextDir;
      header(nameDir, name.second);
      nextDir += 16 + 8ull * name.second.size();
      uint64_t langSlot = nameDir + 16;
      for (const auto& lang : name.second) {
        put32(out, langSlot, lang.first);
        put32(out, langSlot + 4, static_cast<uint32_t>(nextLeaf));
        data.emplace_back(nextLeaf, &lang.second);
        langSlot += 8;
        nextLeaf += 16;
      }
    }
  }
  for (const auto& n : names) {
    put32(out, n.first, 0x80000000u | static_cast<uint32_t>(out.size()));
    out.push_back(static_cast<uint8_t>(n.second->size()));
    out.push_back(static_cast<uint8_t>(n.second->size() >> 8));
    for (char16_t c : *n.second) {
      out.push_back(static_cast<uint8_t>(c));
      out.push_back(static_cast<uint8_t>(c >> 8));
    }
  }
  for (const auto& d : data) {
    out.resize(alignUp(out.size(), 8), 0);
    put32(out, d.first, rva + static_cast<uint32_t>(out.size()));
    put32(out, d.first + 4, static_cast<uint32_t>(d.second->bytes.size()));
    put32(out, d.first + 8, d.second->codePage);
    out.insert(out.end(), d.second->bytes.begin(), d.second->bytes.end());
  }
  out.resize(alignUp(out.size(), 8), 0);
  return out;
}

bool writeResources(Bytes& image, const ResourceTree& tree, std::string& error) {
  PeLayout pe;
  if (!parsePe(image, pe, error)) return false;
  if (pe.fileAlignment > 0x10000 || (pe.fileAlignment & (pe.fileAlignment - 1)) != 0 ||
      (pe.sectionAlignment & (pe.sectionAlignment - 1)) != 0) {
    error = "the image's alignments are not powers of two up to 64 KB";
    return false;
  }
  uint32_t rva = pe.directoryAddress(image, kResourceDirectory);
  const PeSection* rsrc = rva != 0 ? sectionAt(pe, rva) : nullptr;
  if (rsrc == nullptr || rsrc->virtualAddress != rva) {
    error = "the image has no resource section of its own";
    return false;
  }
  // Sections after the resources move; only base relocations can, because
  // nothing but their directory entry refers to where they lie.
  std::vector<const PeSection*> after;
  for (const PeSection& s : pe.sections) {
    if (&s == rsrc) continue;
    if (s.virtualAddress <= rsrc->virtualAddress) {
      if (s.rawSize != 0 && s.rawPointer + static_cast<uint64_t>(s.rawSize) > rsrc->rawPointer) {
        error = "the image's sections are not in file order";
        return false;
      }
      continue;
    }
    if (s.name != ".reloc" ||
        s.rawPointer < static_cast<uint64_t>(rsrc->rawPointer) + rsrc->rawSize) {
      error = "section " + s.name + " follows the resources and cannot be moved";
      return false;
    }
    after.push_back(&s);
  }
  Bytes section = serializeResources(tree, rva);
  uint64_t tailStart = pe.imageEnd();
  Bytes out(image.begin(), image.begin() + rsrc->rawPointer);
  out.insert(out.end(), section.begin(), section.end());
  out.resize(alignUp(out.size(), pe.fileAlignment), 0);
  uint32_t rawSize = static_cast<uint32_t>(out.size() - rsrc->rawPointer);
  put32(out, rsrc->headerOffset + 8, static_cast<uint32_t>(section.size()));
  put32(out, rsrc->headerOffset + 16, rawSize);
  int64_t rawDelta = static_cast<int64_t>(rawSize) - rsrc->rawSize;
  uint64_t nextVa = alignUp(static_cast<uint64_t>(rva) + section.size(), pe.sectionAlignment);
  uint64_t imageSize = nextVa;
  for (const PeSection* s : after) {
    uint32_t newVa = static_cast<uint32_t>(nextVa);
    if (pe.directoryAddress(image, kRelocDirectory) == s->virtualAddress)
      put32(out, pe.dataDirectories + 8ull * kRelocDirectory, newVa);
    put32(out, s->headerOffset + 12, newVa);
    put32(out, s->headerOffset + 20, static_cast<uint32_t>(out.size()));
    out.insert(out.end(), image.begin() + s->rawPointer,
               image.begin() + s->rawPointer + s->rawSize);
    nextVa = alignUp(nextVa + std::max(s->virtualSize, s->rawSize), pe.sectionAlignment);
    imageSize = nextVa;
  }
  // Whatever followed the image (the synthetic test stubs keep data there).
  if (tailStart < image.size()) out.insert(out.end(), image.begin() + tailStart, image.end());
  put32(out, pe.dataDirectories + 8ull * kResourceDirectory + 4,
        static_cast<uint32_t>(section.size()));
  put32(out, pe.optionalHeader + 56, static_cast<uint32_t>(imageSize));
  uint32_t initialized = get32(out, pe.optionalHeader + 8);
  put32(out, pe.optionalHeader + 8, static_cast<uint32_t>(initialized + rawDelta));
  put32(out, pe.checksumOffset, 0);
  image.swap(out);
  return true;
}

const ResourceData* findResource(const ResourceTree& tree, uint32_t type, uint32_t id) {
  auto t = tree.find(ResourceKey::of(type));
  if (t == tree.end()) return nullptr;
  auto n = t->second.find(ResourceKey::of(id));
  if (n == t->second.end() || n->second.empty()) return nullptr;
  auto l = n->second.find(kLangEnUs);
  return l != n->second.end() ? &l->second : &n->second.begin()->second;
}

void setResource(ResourceTree& tree, uint32_t type, uint32_t id, Bytes data) {
  LanguageMap& langs = tree[ResourceKey::of(type)][ResourceKey::of(id)];
  uint32_t lang = langs.size() == 1 ? langs.begin()->first : kLangEnUs;
  langs.clear();
  langs[lang] = ResourceData{std::move(data), 0};
}

uint32_t peChecksum(const Bytes& file, uint64_t checksumOffset) {
  uint64_t sum = 0;
  for (uint64_t i = 0; i < file.size(); i += 2) {
    if (i == checksumOffset || i == checksumOffset + 2) continue;
    uint32_t word = file[i] | (i + 1 < file.size() ? file[i + 1] << 8 : 0);
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + file.size());
}

}  // namespace qlx::wrap
