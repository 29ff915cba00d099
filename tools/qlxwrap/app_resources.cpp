// Icon groups, version information and manifests as resource data. The
// layouts are the ones the loader and the version API walk: an icon group
// is a header plus 14-byte entries naming RT_ICON ids; a version block is
// a tree of (length, value length, type, key, value, children) nodes, each
// aligned to 32 bits.
#include "tools/qlxwrap/app_resources.h"

#include <algorithm>
#include <set>

#include "launcher/text.h"
#include "tools/qlxwrap/config_block.h"
#include "tools/qlxwrap/pe_image.h"

namespace qlx::wrap {
namespace {

constexpr size_t kIcoEntry = 16, kGroupEntry = 14;
// A full Windows icon has about ten images of at most 256 pixels (256 KB
// each as bitmaps); the caps leave room for that many times over.
constexpr unsigned kMaxIconImages = 64;
constexpr uint64_t kMaxIconBytes = 16u << 20;

void pad4(Bytes& b) {
  while (b.size() % 4) b.push_back(0);
}

void appendUtf16(Bytes& b, const std::u16string& s) {
  for (char16_t c : s) {
    b.push_back(static_cast<uint8_t>(c));
    b.push_back(static_cast<uint8_t>(c >> 8));
  }
  b.push_back(0);
  b.push_back(0);
}

// One node of a version block. Children start 32-bit aligned; the node's
// length counts everything up to the end of its last child.
Bytes versionNode(const std::u16string& key, const Bytes& value, uint16_t valueLength,
                  uint16_t type, const std::vector<Bytes>& children) {
  Bytes b(6, 0);
  appendUtf16(b, key);
  pad4(b);
  b.insert(b.end(), value.begin(), value.end());
  for (const Bytes& child : children) {
    pad4(b);
    b.insert(b.end(), child.begin(), child.end());
  }
  put16(b, 0, static_cast<uint32_t>(b.size()));
  put16(b, 2, valueLength);
  put16(b, 4, type);
  return b;
}

std::string toUtf8(const std::u16string& s) { return utf16ToUtf8(s.data(), s.size()); }

struct Node {
  uint64_t start = 0, end = 0, value = 0, children = 0;
  uint32_t valueLength = 0, type = 0;
  std::u16string key;
};

// Reads the node at `at` inside [at, limit); false when it does not fit.
bool readNode(const Bytes& d, uint64_t at, uint64_t limit, Node& n) {
  if (at + 6 > limit) return false;
  uint32_t length = get16(d, at);
  if (length < 6 || at + length > limit) return false;
  n = Node{at, at + length, 0, 0, get16(d, at + 2), get16(d, at + 4), {}};
  uint64_t p = at + 6;
  for (;;) {
    if (p + 2 > n.end) return false;
    char16_t c = static_cast<char16_t>(get16(d, p));
    p += 2;
    if (c == 0) break;
    n.key += c;
  }
  n.value = (p + 3) / 4 * 4;
  uint64_t valueBytes = n.type == 1 ? 2ull * n.valueLength : n.valueLength;
  n.children = (n.value + valueBytes + 3) / 4 * 4;
  return n.value + valueBytes <= n.end;
}

// Calls `each` for every child node of `parent`.
template <typename F>
bool forChildren(const Bytes& d, const Node& parent, F each) {
  uint64_t p = parent.children;
  while (p + 6 <= parent.end) {
    Node child;
    if (!readNode(d, p, parent.end, child)) return false;
    each(child);
    p = (child.end + 3) / 4 * 4;
  }
  return true;
}

std::string versionText(uint32_t ms, uint32_t ls) {
  return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." +
         std::to_string(ls >> 16) + "." + std::to_string(ls & 0xFFFF);
}

}  // namespace

bool setIconGroup(ResourceTree& tree, const Bytes& ico, std::string& error) {
  error = "not an icon file (.ico)";
  if (ico.size() < 6 || get16(ico, 0) != 0 || get16(ico, 2) != 1) return false;
  unsigned count = get16(ico, 4);
  if (count == 0 || 6 + kIcoEntry * count > ico.size()) return false;
  if (count > kMaxIconImages) {
    error = "icon file has " + std::to_string(count) + " images; at most " +
            std::to_string(kMaxIconImages) + " are taken";
    return false;
  }
  // Each image is copied into its own resource, so images that share bytes
  // would multiply a small file into a huge program.
  std::vector<std::pair<uint64_t, uint64_t>> spans;  // offset, end
  uint64_t total = 0;
  for (unsigned i = 0; i < count; ++i) {
    uint64_t e = 6 + kIcoEntry * i;
    uint32_t size = get32(ico, e + 8), offset = get32(ico, e + 12);
    if (size < 8 || !inside(ico, offset, size) || offset < 6 + kIcoEntry * count) {
      error = "icon file is damaged: image " + std::to_string(i + 1) + " lies outside the file";
      return false;
    }
    spans.emplace_back(offset, static_cast<uint64_t>(offset) + size);
    total += size;
    bool png = ico[offset] == 0x89 && ico[offset + 1] == 'P' && ico[offset + 2] == 'N';
    if (!png && get32(ico, offset) != 40) {
      error = "icon file is damaged: image " + std::to_string(i + 1) + " is neither PNG nor DIB";
      return false;
    }
  }
  if (total > kMaxIconBytes) {
    error = "icon images take " + std::to_string(total) + " bytes; at most " +
            std::to_string(kMaxIconBytes) + " are taken";
    return false;
  }
  std::sort(spans.begin(), spans.end());
  for (size_t i = 1; i < spans.size(); ++i) {
    if (spans[i].first < spans[i - 1].second) {
      error = "icon file is damaged: two images share the bytes at offset " +
              std::to_string(spans[i].first);
      return false;
    }
  }
  // The old group's images go; ids still used by other groups stay taken.
  NameMap& icons = tree[ResourceKey::of(kRtIcon)];
  if (const ResourceData* old = findResource(tree, kRtGroupIcon, 1)) {
    const Bytes& g = old->bytes;
    for (uint64_t e = 6; g.size() >= 6 && e + kGroupEntry <= g.size() &&
                         e < 6 + kGroupEntry * get16(g, 4); e += kGroupEntry)
      icons.erase(ResourceKey::of(get16(g, e + 12)));
  }
  Bytes group(6, 0);
  put16(group, 2, 1);
  put16(group, 4, count);
  uint32_t nextId = 1;
  for (unsigned i = 0; i < count; ++i) {
    while (icons.count(ResourceKey::of(nextId))) ++nextId;
    uint64_t e = 6 + kIcoEntry * i;
    uint32_t size = get32(ico, e + 8), offset = get32(ico, e + 12);
    icons[ResourceKey::of(nextId)][kLangEnUs] =
        ResourceData{Bytes(ico.begin() + offset, ico.begin() + offset + size), 0};
    group.insert(group.end(), ico.begin() + static_cast<std::ptrdiff_t>(e),
                 ico.begin() + static_cast<std::ptrdiff_t>(e + 12));
    group.push_back(static_cast<uint8_t>(nextId));
    group.push_back(static_cast<uint8_t>(nextId >> 8));
    ++nextId;
  }
  setResource(tree, kRtGroupIcon, 1, std::move(group));
  error.clear();
  return true;
}

std::vector<std::string> iconSizes(const ResourceTree& tree) {
  std::vector<std::string> sizes;
  const ResourceData* group = findResource(tree, kRtGroupIcon, 1);
  if (group == nullptr || group->bytes.size() < 6) return sizes;
  const Bytes& g = group->bytes;
  unsigned count = get16(g, 4);
  for (unsigned i = 0; i < count && 6 + kGroupEntry * (i + 1) <= g.size(); ++i) {
    unsigned w = g[6 + kGroupEntry * i], h = g[6 + kGroupEntry * i + 1];
    sizes.push_back(std::to_string(w ? w : 256) + "x" + std::to_string(h ? h : 256));
  }
  return sizes;
}

bool parseVersion(const std::string& text, uint32_t& ms, uint32_t& ls) {
  uint32_t parts[4] = {0, 0, 0, 0};
  size_t count = 0, pos = 0;
  while (count < 4) {
    size_t digits = 0;
    uint32_t v = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 6) {
      v = v * 10 + static_cast<uint32_t>(text[pos++] - '0');
      ++digits;
    }
    if (digits == 0 || v > 0xFFFF) return false;
    parts[count++] = v;
    if (pos == text.size()) break;
    if (text[pos++] != '.') return false;
  }
  if (pos != text.size()) return false;
  ms = parts[0] << 16 | parts[1];
  ls = parts[2] << 16 | parts[3];
  return true;
}

bool buildVersionInfo(const VersionInfo& info, const std::string& fileName, Bytes& out,
                      std::string& error) {
  std::string fileVersion = info.fileVersion.value_or(info.productVersion.value_or("0.0.0.0"));
  std::string productVersion = info.productVersion.value_or(fileVersion);
  uint32_t fms, fls, pms, pls;
  if (!parseVersion(fileVersion, fms, fls)) {
    error = "--file-version '" + fileVersion + "' is not 1 to 4 numbers 0..65535 joined by '.'";
    return false;
  }
  if (!parseVersion(productVersion, pms, pls)) {
    error = "--product-version '" + productVersion +
            "' is not 1 to 4 numbers 0..65535 joined by '.'";
    return false;
  }
  Bytes fixed(52, 0);
  const uint32_t words[13] = {0xFEEF04BD, 0x00010000, fms, fls, pms, pls, 0x3F, 0,
                              0x00040004 /* NT, 32-bit Windows */, 1 /* application */, 0, 0, 0};
  for (int i = 0; i < 13; ++i) put32(fixed, 4ull * i, words[i]);

  std::string internal = fileName;
  if (internal.size() > 4 && (internal.substr(internal.size() - 4) == ".exe" ||
                              internal.substr(internal.size() - 4) == ".EXE"))
    internal.resize(internal.size() - 4);
  const std::pair<const char*, std::optional<std::string>> entries[] = {
      {"CompanyName", info.company},       {"FileDescription", info.fileDescription},
      {"FileVersion", fileVersion},        {"InternalName", internal},
      {"LegalCopyright", info.copyright},  {"OriginalFilename", fileName},
      {"ProductName", info.productName},   {"ProductVersion", productVersion},
  };
  std::vector<Bytes> strings;
  for (const auto& e : entries) {
    if (!e.second) continue;
    std::u16string key, value;
    utf8ToUtf16(e.first, key);
    if (!utf8ToUtf16(*e.second, value)) {
      error = std::string("the ") + e.first + " text is not valid UTF-8";
      return false;
    }
    Bytes v;
    appendUtf16(v, value);
    strings.push_back(versionNode(key, v, static_cast<uint16_t>(value.size() + 1), 1, {}));
  }
  Bytes table = versionNode(u"040904B0", {}, 0, 1, strings);
  Bytes stringInfo = versionNode(u"StringFileInfo", {}, 0, 1, {table});
  Bytes translation = versionNode(u"Translation", {0x09, 0x04, 0xB0, 0x04}, 4, 0, {});
  Bytes varInfo = versionNode(u"VarFileInfo", {}, 0, 1, {translation});
  out = versionNode(u"VS_VERSION_INFO", fixed, 52, 0, {stringInfo, varInfo});
  if (out.size() > 0xFFFF) {
    error = "the version texts are too long (64 KB in all)";
    return false;
  }
  return true;
}

bool readVersionStrings(const Bytes& d, std::vector<std::pair<std::string, std::string>>& out) {
  out.clear();
  Node root;
  if (!readNode(d, 0, d.size(), root) || root.key != u"VS_VERSION_INFO") return false;
  if (root.valueLength >= 52 && get32(d, root.value) == 0xFEEF04BD)
    out.emplace_back("(fixed) FileVersion",
                     versionText(get32(d, root.value + 8), get32(d, root.value + 12)));
  bool ok = true;
  bool walked = forChildren(d, root, [&](const Node& info) {
    if (info.key != u"StringFileInfo") return;
    ok = ok && forChildren(d, info, [&](const Node& table) {
      ok = ok && forChildren(d, table, [&](const Node& s) {
        std::u16string value;
        for (uint64_t p = s.value; p + 2 <= s.end && p < s.value + 2ull * s.valueLength; p += 2) {
          char16_t c = static_cast<char16_t>(get16(d, p));
          if (c == 0) break;
          value += c;
        }
        out.emplace_back(toUtf8(s.key), toUtf8(value));
      });
    });
  });
  return walked && ok;
}

std::string buildManifest(const std::string& executionLevel, bool utf8CodePage) {
  std::string m =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
      "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
      "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">\r\n"
      "    <security>\r\n"
      "      <requestedPrivileges>\r\n"
      "        <requestedExecutionLevel level=\"" + executionLevel + "\" uiAccess=\"false\"/>\r\n"
      "      </requestedPrivileges>\r\n"
      "    </security>\r\n"
      "  </trustInfo>\r\n"
      "  <compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">\r\n"
      "    <application>\r\n"
      "      <!-- Windows Vista, 7, 8, 8.1, 10 and 11 -->\r\n"
      "      <supportedOS Id=\"{e2011457-1546-43c5-a5fe-008deee3d3f0}\"/>\r\n"
      "      <supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>\r\n"
      "      <supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>\r\n"
      "      <supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>\r\n"
      "      <supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>\r\n"
      "    </application>\r\n"
      "  </compatibility>\r\n";
  if (utf8CodePage) {
    m += "  <application xmlns=\"urn:schemas-microsoft-com:asm.v3\">\r\n"
         "    <windowsSettings>\r\n"
         "      <activeCodePage xmlns=\"http://schemas.microsoft.com/SMI/2019/WindowsSettings\">"
         "UTF-8</activeCodePage>\r\n"
         "    </windowsSettings>\r\n"
         "  </application>\r\n";
  }
  return m + "</assembly>\r\n";
}

}  // namespace qlx::wrap
