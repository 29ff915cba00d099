// String-table blocks: the counted UTF-16 layout the launcher's message
// lookup reads back, and the rule that a rewritten block keeps within the
// room the stub reserved for it.
#include "tools/qlxwrap/pe_strings.h"

#include "tools/qlxwrap/pe_image.h"

namespace qlx::wrap {

bool isPeImage(const Bytes& image) {
  PeLayout pe;
  std::string error;
  return parsePe(image, pe, error);
}

bool decodeStringBlock(const Bytes& d, std::vector<std::u16string>& strings) {
  strings.assign(16, std::u16string());
  uint64_t pos = 0;
  for (int i = 0; i < 16; ++i) {
    if (pos + 2 > d.size()) return false;
    uint32_t len = get16(d, pos);
    pos += 2;
    if (pos + 2ull * len > d.size()) return false;
    for (uint32_t k = 0; k < len; ++k, pos += 2) strings[i] += static_cast<char16_t>(get16(d, pos));
  }
  return true;
}

Bytes encodeStringBlock(const std::vector<std::u16string>& strings) {
  Bytes data;
  for (const auto& s : strings) {
    data.push_back(static_cast<uint8_t>(s.size()));
    data.push_back(static_cast<uint8_t>(s.size() >> 8));
    for (char16_t u : s) {
      data.push_back(static_cast<uint8_t>(u));
      data.push_back(static_cast<uint8_t>(u >> 8));
    }
  }
  return data;
}

bool readStringBlock(const Bytes& image, int block, std::vector<std::u16string>& strings,
                     std::string& error) {
  ResourceTree tree;
  if (!readResources(image, tree, error)) return false;
  const ResourceData* data = findResource(tree, kRtString, static_cast<uint32_t>(block));
  if (data == nullptr) {
    error = "the image has no string table block " + std::to_string(block);
    return false;
  }
  if (!decodeStringBlock(data->bytes, strings)) {
    error = "string table block " + std::to_string(block) + " is damaged";
    return false;
  }
  return true;
}

bool patchStringBlock(ResourceTree& tree, int block,
                      const std::vector<std::pair<int, std::u16string>>& replacements,
                      std::string& error) {
  const ResourceData* old = findResource(tree, kRtString, static_cast<uint32_t>(block));
  std::vector<std::u16string> strings;
  if (old == nullptr) {
    error = "the image has no string table block " + std::to_string(block);
    return false;
  }
  if (!decodeStringBlock(old->bytes, strings)) {
    error = "string table block " + std::to_string(block) + " is damaged";
    return false;
  }
  for (const auto& r : replacements) {
    if (r.first < 0 || r.first > 15 || r.second.size() > 0xFFFF) {
      error = "bad string table replacement";
      return false;
    }
    strings[r.first] = r.second;
  }
  Bytes data = encodeStringBlock(strings);
  if (data.size() > old->bytes.size()) {
    error = "the texts need " + std::to_string(data.size()) + " bytes but the stub's string block " +
            std::to_string(block) + " holds " + std::to_string(old->bytes.size()) +
            " (shorten the service texts)";
    return false;
  }
  // The block keeps its size, so the room stays for whoever patches it next.
  data.resize(old->bytes.size(), 0);
  setResource(tree, kRtString, static_cast<uint32_t>(block), std::move(data));
  return true;
}

bool patchStringBlock(Bytes& image, int block,
                      const std::vector<std::pair<int, std::u16string>>& replacements,
                      std::string& error) {
  ResourceTree tree;
  return readResources(image, tree, error) &&
         patchStringBlock(tree, block, replacements, error) && writeResources(image, tree, error);
}

}  // namespace qlx::wrap
