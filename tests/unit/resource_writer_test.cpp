// The resource writer: a rebuilt resource section reads back as the tree
// that was written, the image around it stays loadable (alignment, sizes,
// moved relocations), and the icon, version and string-block builders.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "tools/qlxwrap/app_resources.h"
#include "tools/qlxwrap/pe_image.h"
#include "tools/qlxwrap/pe_strings.h"
#include "tools/qlxwrap/resource_tree.h"

namespace qlx::wrap {
namespace {

Bytes realStub() {
  const char* tree = std::getenv("QLX_BUILD_WIN");
  std::string dir = tree != nullptr ? tree : std::string(QLX_SOURCE_DIR) + "/build/win";
  std::ifstream file(dir + "/launcher/qlx.exe", std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

bool sameTree(const ResourceTree& a, const ResourceTree& b) {
  if (a.size() != b.size()) return false;
  for (auto t = a.begin(), u = b.begin(); t != a.end(); ++t, ++u) {
    if (t->first < u->first || u->first < t->first || t->second.size() != u->second.size())
      return false;
    for (auto n = t->second.begin(), m = u->second.begin(); n != t->second.end(); ++n, ++m) {
      if (n->first < m->first || m->first < n->first || n->second.size() != m->second.size())
        return false;
      for (auto l = n->second.begin(), k = m->second.begin(); l != n->second.end(); ++l, ++k)
        if (l->first != k->first || l->second.bytes != k->second.bytes) return false;
    }
  }
  return true;
}

const PeSection* section(const PeLayout& pe, const std::string& name) {
  for (const PeSection& s : pe.sections)
    if (s.name == name) return &s;
  return nullptr;
}

TEST(ResourceWriterTest, RebuiltSectionReadsBackAndTheImageStaysConsistent) {
  Bytes stub = realStub();
  if (stub.empty()) GTEST_SKIP() << "no Windows stub built";
  ResourceTree tree;
  std::string error;
  ASSERT_TRUE(readResources(stub, tree, error)) << error;
  ASSERT_NE(findResource(tree, kRtString, 17), nullptr);
  // Growing by more than a page moves .reloc by a whole section alignment.
  setResource(tree, 10, 7, Bytes(9001, 0xAB));
  ResourceKey named{true, 0, u"QLXDATA"};
  tree[named][ResourceKey::of(1)][0] = ResourceData{Bytes{1, 2, 3}, 0};
  Bytes out = stub;
  ASSERT_TRUE(writeResources(out, tree, error)) << error;

  ResourceTree back;
  ASSERT_TRUE(readResources(out, back, error)) << error;
  EXPECT_TRUE(sameTree(tree, back));
  PeLayout before, after;
  ASSERT_TRUE(parsePe(stub, before, error) && parsePe(out, after, error)) << error;
  ASSERT_EQ(before.sections.size(), after.sections.size());
  uint64_t end = 0;
  for (const PeSection& s : after.sections) {
    EXPECT_EQ(s.rawPointer % after.fileAlignment, 0u) << s.name;
    EXPECT_EQ(s.virtualAddress % after.sectionAlignment, 0u) << s.name;
    end = std::max<uint64_t>(end, s.virtualAddress + std::max(s.virtualSize, s.rawSize));
  }
  EXPECT_EQ(get32(out, after.optionalHeader + 56),
            (end + after.sectionAlignment - 1) / after.sectionAlignment * after.sectionAlignment);
  const PeSection* rsrc = section(after, ".rsrc");
  ASSERT_NE(rsrc, nullptr);
  EXPECT_EQ(rsrc->virtualSize, after.directorySize(out, 2));
  const PeSection *oldReloc = section(before, ".reloc"), *reloc = section(after, ".reloc");
  ASSERT_TRUE(oldReloc && reloc);
  EXPECT_GT(reloc->virtualAddress, oldReloc->virtualAddress);
  EXPECT_EQ(after.directoryAddress(out, 5), reloc->virtualAddress);
  EXPECT_TRUE(std::equal(out.begin() + reloc->rawPointer, out.begin() + reloc->rawPointer + reloc->rawSize,
                         stub.begin() + oldReloc->rawPointer));
  // Code and data before the resources do not move.
  uint64_t first = after.sections.front().rawPointer;
  EXPECT_TRUE(std::equal(out.begin() + first, out.begin() + rsrc->rawPointer, stub.begin() + first));
  EXPECT_EQ(out.size(), stub.size() - (oldReloc->rawPointer - section(before, ".rsrc")->rawPointer) +
                            (reloc->rawPointer - rsrc->rawPointer));
}

TEST(ResourceWriterTest, VersionTextsParse) {
  const std::vector<std::tuple<const char*, bool, uint32_t, uint32_t>> cases = {
      {"1", true, 0x10000, 0},           {"1.2.3.4", true, 0x10002, 0x30004},
      {"65535.0.1", true, 0xFFFF0000, 0x10000}, {"", false, 0, 0},
      {"1..2", false, 0, 0},             {"1.2.3.4.5", false, 0, 0},
      {"65536", false, 0, 0},            {"1.2a", false, 0, 0}, {"1.", false, 0, 0},
  };
  for (const auto& [text, ok, ms, ls] : cases) {
    uint32_t gotMs = 0, gotLs = 0;
    EXPECT_EQ(parseVersion(text, gotMs, gotLs), ok) << text;
    if (ok) EXPECT_EQ(std::make_pair(gotMs, gotLs), std::make_pair(ms, ls)) << text;
  }
}

TEST(ResourceWriterTest, VersionBlockReadsBackAndCutsAreRefused) {
  VersionInfo info;
  info.productVersion = "3.1";
  info.company = "T\xC3\xA5rnwick";
  Bytes block;
  std::string error;
  ASSERT_TRUE(buildVersionInfo(info, "Tool.exe", block, error)) << error;
  std::vector<std::pair<std::string, std::string>> strings;
  ASSERT_TRUE(readVersionStrings(block, strings));
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"(fixed) FileVersion", "3.1.0.0"}, {"CompanyName", "T\xC3\xA5rnwick"},
      {"FileVersion", "3.1"},  {"InternalName", "Tool"},
      {"OriginalFilename", "Tool.exe"}, {"ProductVersion", "3.1"}};
  EXPECT_EQ(strings, expected);
  // Damaged lengths anywhere must keep the reader inside the bytes (ASan).
  for (size_t at = 0; at + 2 <= block.size(); at += 2) {
    for (uint32_t value : {0u, 7u, 0xFFFFu}) {
      Bytes damaged = block;
      put16(damaged, at, value);
      readVersionStrings(damaged, strings);
    }
  }
  info.fileVersion = "1.x";
  EXPECT_FALSE(buildVersionInfo(info, "Tool.exe", block, error));
}

TEST(ResourceWriterTest, IconFilesReplaceGroupOneOrAreRefused) {
  auto ico = [](std::vector<std::pair<int, Bytes>> images) {
    Bytes f(6 + 16 * images.size(), 0);
    put16(f, 2, 1);
    put16(f, 4, static_cast<uint32_t>(images.size()));
    for (size_t i = 0; i < images.size(); ++i) {
      f[6 + 16 * i] = f[7 + 16 * i] = static_cast<uint8_t>(images[i].first);
      put32(f, 6 + 16 * i + 8, static_cast<uint32_t>(images[i].second.size()));
      put32(f, 6 + 16 * i + 12, static_cast<uint32_t>(f.size()));
      f.insert(f.end(), images[i].second.begin(), images[i].second.end());
    }
    return f;
  };
  Bytes dib(48, 0), png = {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0};
  dib[0] = 40;
  Bytes good = ico({{16, dib}, {32, dib}, {0, png}});
  Bytes outside = good;
  put32(outside, 6 + 12, 4000);
  Bytes notImage = ico({{16, Bytes(48, 7)}});
  const std::vector<Bytes> bad = {{}, Bytes{0, 0, 2, 0, 1, 0}, ico({}), outside, notImage,
                                  Bytes{'M', 'Z', 0, 0, 0, 0, 0, 0}};
  ResourceTree tree;
  std::string error;
  for (const Bytes& b : bad) EXPECT_FALSE(setIconGroup(tree, b, error));
  EXPECT_TRUE(tree.empty() || tree.begin()->second.empty());

  tree.clear();
  setResource(tree, kRtIcon, 1, dib);
  setResource(tree, kRtIcon, 9, dib);  // another group's image stays
  ASSERT_TRUE(setIconGroup(tree, ico({{48, dib}}), error));
  setResource(tree, kRtGroupIcon, 2, Bytes{0, 0, 1, 0, 0, 0});
  ASSERT_TRUE(setIconGroup(tree, good, error)) << error;
  EXPECT_EQ(iconSizes(tree), (std::vector<std::string>{"16x16", "32x32", "256x256"}));
  // 1 and 9 were in no replaced group; the first group's image went.
  EXPECT_EQ(tree[ResourceKey::of(kRtIcon)].size(), 5u);
}

}  // namespace
}  // namespace qlx::wrap
