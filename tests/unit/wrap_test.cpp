// The generator: payloads that the launcher's own reader reads back, the
// configuration block rules, zip checks and merging, the stub checks and
// the string-table patch of Windows stubs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "launcher/digest.h"
#include "launcher/payload.h"
#include "tests/unit/zip_builder.h"
#include "tools/qlxwrap/config_block.h"
#include "tools/qlxwrap/options.h"
#include "tools/qlxwrap/pe_strings.h"
#include "tools/qlxwrap/wrap.h"
#include "tools/qlxwrap/zip_archive.h"

namespace qlx::wrap {
namespace {

using qlx::testing::makeStub;
using qlx::testing::makeZip;

Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

WrapInput basicInput() {
  WrapInput in;
  in.stub = makeStub();
  in.config = bytes("mainclass sample.Hello\nargv one\n");
  in.archive = makeZip({{"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\n\r\n"},
                        {"sample/Hello.class", std::string(300, 'x')}});
  in.defaultServiceName = "hello";
  return in;
}

struct ReadBack {
  PayloadLayout layout;
  PayloadStatus status;
  std::string block;
  int64_t archiveLength;
};

ReadBack readBack(const Bytes& file) {
  ReadBack r{};
  int64_t marker = findArchiveSlot(file.data(), file.size());
  EXPECT_GE(marker, 8);
  int64_t a = 0;
  for (int i = 7; i >= 0; --i) a = a << 8 | file[static_cast<size_t>(marker - 8 + i)];
  r.archiveLength = a;
  r.status = locatePayload(file.data(), file.size(), a, r.layout);
  if (r.status == PayloadStatus::Ok) r.block = readConfigBlock(file.data(), r.layout);
  return r;
}

TEST(WrapTest, PayloadReadsBackWithTheLaunchersReader) {
  WrapInput in = basicInput();
  WrapResult out;
  Failure f;
  ASSERT_TRUE(buildWrapped(in, out, f)) << f.message;
  const Bytes& file = out.output;
  ReadBack r = readBack(file);
  ASSERT_EQ(r.status, PayloadStatus::Ok);
  EXPECT_EQ(r.archiveLength, static_cast<int64_t>(in.archive.size()));
  EXPECT_EQ(r.layout.trailingLength, 0);
  EXPECT_EQ(r.block, "\xEF\xBB\xBFmainclass sample.Hello\r\nargv one\r\n");
  EXPECT_EQ(r.layout.blockLength, static_cast<int64_t>(r.block.size() + 1));
  EXPECT_EQ(r.layout.blockOffset, static_cast<int64_t>(in.stub.size()));
  // The archive is the last thing in the file, byte for byte.
  EXPECT_TRUE(std::equal(in.archive.begin(), in.archive.end(), file.end() - in.archive.size()));
  Digest d = fileDigest(file.data(), r.layout);
  EXPECT_EQ(0, std::memcmp(d.data(), &file[static_cast<size_t>(r.layout.digestOffset)], 16));
}

TEST(WrapTest, EveryByteOfASmallWrappedFileIsGuarded) {
  WrapInput in = basicInput();
  in.archive = makeZip({{"a", "b"}});
  WrapResult out;
  Failure f;
  ASSERT_TRUE(buildWrapped(in, out, f)) << f.message;
  const Bytes& file = out.output;
  ReadBack r = readBack(file);
  ASSERT_EQ(r.status, PayloadStatus::Ok);
  const Digest stored = fileDigest(file.data(), r.layout);
  const size_t digestAt = static_cast<size_t>(r.layout.digestOffset);
  for (size_t i = 0; i < file.size(); ++i) {
    if (i >= digestAt && i < digestAt + 16) continue;
    for (uint8_t flip : {0x01, 0x80, 0xFF}) {
      Bytes changed = file;
      changed[i] ^= flip;
      EXPECT_NE(fileDigest(changed.data(), r.layout), stored) << "byte " << i;
    }
  }
}

struct BlockCase {
  const char* name;
  std::string input;
  std::string expected;  // after the mark, before the NUL
};

TEST(WrapTest, ConfigurationBlockIsUtf8WithCrLf) {
  const std::vector<BlockCase> cases = {
      {"lf", "a 1\nb 2\n", "a 1\r\nb 2\r\n"},
      {"cr", "a 1\rb 2", "a 1\r\nb 2"},
      {"crlf", "a 1\r\nb 2\r\n", "a 1\r\nb 2\r\n"},
      {"mixed", "a\r\n\nb\rc", "a\r\n\r\nb\r\nc"},
      {"utf8 mark kept once", "\xEF\xBB\xBFx \xC3\xA9", "x \xC3\xA9"},
      {"utf16le", std::string("\xFF\xFE" "a\0\n\0\xE9\0\xAC\x20", 10), "a\r\n\xC3\xA9\xE2\x82\xAC"},
      {"utf16be", std::string("\xFE\xFF\0a\0\r\0\n\xD8\x3D\xDE\x00", 12), "a\r\n\xF0\x9F\x98\x80"},
      {"empty", "", ""},
      {"trailing spaces kept", "appid x  \t", "appid x  \t"},
  };
  for (const auto& c : cases) {
    Bytes block;
    std::string error;
    ASSERT_TRUE(buildConfigBlock(bytes(c.input), block, error)) << c.name << ": " << error;
    std::string expected = "\xEF\xBB\xBF" + c.expected + std::string(1, '\0');
    EXPECT_EQ(std::string(block.begin(), block.end()), expected) << c.name;
  }
}

TEST(WrapTest, UnusableConfigurationTextIsRefused) {
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"latin-1 byte", "name caf\xE9\n"},
      {"cut sequence", "x \xE2\x82"},
      {"overlong", "x \xC0\xAF"},
      {"encoded surrogate", "x \xED\xA0\x80"},
      {"nul", std::string("a\0b", 3)},
      {"odd utf16", "\xFF\xFE" "a"},
      {"lone surrogate", std::string("\xFF\xFE\x00\xD8" "a\0", 6)},
      {"utf16 nul", std::string("\xFF\xFE" "a\0\0\0", 6)},
  };
  for (const auto& c : cases) {
    Bytes block;
    std::string error;
    EXPECT_FALSE(buildConfigBlock(bytes(c.second), block, error)) << c.first;
    EXPECT_FALSE(error.empty()) << c.first;
  }
  WrapInput in = basicInput();
  in.config = bytes("x \xFF");
  WrapResult out;
  Failure f;
  EXPECT_FALSE(buildWrapped(in, out, f));
  EXPECT_EQ(f.code, kUsage);
}

TEST(WrapTest, StubMustHoldExactlyOneEmptySlot) {
  Bytes noSlot(200, 0x90);
  Bytes twoSlots = makeStub();
  Bytes second = makeStub(10, 10);
  twoSlots.insert(twoSlots.end(), second.begin(), second.end());
  Bytes filled = makeStub();
  filled[100] = 1;  // the slot's first byte
  Bytes cutOff(kArchiveSlotMarker, kArchiveSlotMarker + sizeof(kArchiveSlotMarker));
  for (const Bytes* stub : {&noSlot, &twoSlots, &filled, &cutOff}) {
    WrapInput in = basicInput();
    in.stub = *stub;
    WrapResult out;
    Failure f;
    EXPECT_FALSE(buildWrapped(in, out, f));
    EXPECT_EQ(f.code, kBadStub) << f.message;
  }
}

TEST(WrapTest, BadArchivesAreRefused) {
  Bytes good = makeZip({{"a.txt", "hello"}, {"b.txt", "world"}});
  auto patched = [&](size_t at, uint8_t v) {
    Bytes b = good;
    b[at] = v;
    return b;
  };
  const size_t end = good.size() - 22;
  Bytes prefixed = bytes("junk");
  prefixed.insert(prefixed.end(), good.begin(), good.end());
  Bytes truncated(good.begin(), good.begin() + 40);
  const std::vector<std::pair<const char*, Bytes>> cases = {
      {"empty", {}},
      {"text", bytes("this is not a zip archive at all, just some text")},
      {"truncated", truncated},
      {"prefixed", prefixed},
      {"directory offset past end", patched(end + 19, 0x7F)},
      {"directory size too large", patched(end + 13, 0x10)},
      {"entry count too high", patched(end + 10, 3)},
      {"local header moved", patched(end - 2 * 51 + 42, 0x05)},
      {"central signature", patched(end - 2 * 51, 'X')},
      {"zip64 marker", patched(end + 10, 0xFF)},
      {"multi volume", patched(end + 4, 1)},
  };
  for (const auto& c : cases) {
    ZipView view;
    std::string error;
    EXPECT_FALSE(parseZip(c.second, view, error)) << c.first;
    EXPECT_FALSE(error.empty()) << c.first;
    WrapInput in = basicInput();
    in.archive = c.second;
    WrapResult out;
    Failure f;
    EXPECT_FALSE(buildWrapped(in, out, f)) << c.first;
    EXPECT_EQ(f.code, kBadArchive) << c.first;
  }
  ZipView view;
  std::string error;
  EXPECT_TRUE(parseZip(good, view, error)) << error;
  ASSERT_EQ(view.entries.size(), 2u);
  EXPECT_EQ(view.entries[1].name, "b.txt");
}

TEST(WrapTest, ZipCommentIsDroppedSoTheFileEndsAtTheEndRecord) {
  WrapInput in = basicInput();
  const std::string comment = "a comment with PK\x05\x06 inside";
  in.archive = makeZip({{"a", "b"}}, comment);
  WrapResult out;
  Failure f;
  ASSERT_TRUE(buildWrapped(in, out, f)) << f.message;
  ReadBack r = readBack(out.output);
  ASSERT_EQ(r.status, PayloadStatus::Ok);
  EXPECT_EQ(r.layout.trailingLength, 0);
  EXPECT_EQ(r.archiveLength, static_cast<int64_t>(in.archive.size() - comment.size()));
  EXPECT_EQ(out.output[out.output.size() - 1], 0);
  EXPECT_EQ(out.output[out.output.size() - 2], 0);
}

TEST(WrapTest, MergeKeepsTheApplicationsEntries) {
  Bytes app = makeZip({{"META-INF/MANIFEST.MF", "app manifest"}, {"x/A.class", "app A"},
                       {"shared.txt", "from app"}});
  Bytes lib = makeZip({{"META-INF/MANIFEST.MF", "lib manifest"}, {"META-INF/LIB.SF", "sig"},
                       {"META-INF/services/x", "service"}, {"com/tarnwick/qlx/Instances.class", "I"},
                       {"shared.txt", "from lib"}});
  WrapInput in = basicInput();
  in.archive = app;
  in.merges = {lib};
  WrapResult out;
  Failure f;
  ASSERT_TRUE(buildWrapped(in, out, f)) << f.message;
  ReadBack r = readBack(out.output);
  ASSERT_EQ(r.status, PayloadStatus::Ok);
  Bytes merged(out.output.end() - r.archiveLength, out.output.end());
  ZipView view;
  std::string error;
  ASSERT_TRUE(parseZip(merged, view, error)) << error;
  std::vector<std::string> names;
  for (const auto& e : view.entries) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::string>{"META-INF/MANIFEST.MF", "x/A.class", "shared.txt",
                                             "META-INF/services/x",
                                             "com/tarnwick/qlx/Instances.class"}));
  auto content = [&](const ZipEntry& e) {
    const uint8_t* l = &merged[e.localOffset];
    size_t nameLen = l[26] | l[27] << 8, extra = l[28] | l[29] << 8;
    size_t size = l[18] | l[19] << 8;
    return std::string(l + 30 + nameLen + extra, l + 30 + nameLen + extra + size);
  };
  EXPECT_EQ(content(view.entries[0]), "app manifest");
  EXPECT_EQ(content(view.entries[2]), "from app");
  EXPECT_EQ(content(view.entries[4]), "I");

  in.merges = {bytes("not a zip")};
  in.mergeNames = {"broken.jar"};
  EXPECT_FALSE(buildWrapped(in, out, f));
  EXPECT_EQ(f.code, kBadArchive);
  EXPECT_NE(f.message.find("broken.jar"), std::string::npos);
}

// A minimal PE32+ image with one .rsrc section that holds string block 17
// (ids 256..271) in language 1033, its data entry `room` bytes long.
Bytes makePe(const std::vector<std::u16string>& strings, size_t room, uint32_t language = 1033) {
  Bytes f(0x200, 0);
  f[0] = 'M';
  f[1] = 'Z';
  f[0x3C] = 0x40;
  std::memcpy(&f[0x40], "PE\0\0", 4);
  auto put16 = [&](size_t at, uint32_t v) { f[at] = uint8_t(v), f[at + 1] = uint8_t(v >> 8); };
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = uint8_t(v >> (8 * i));
  };
  put16(0x44, 0x8664);
  put16(0x46, 1);      // sections
  put16(0x54, 240);    // optional header size
  const size_t opt = 0x58;
  put16(opt, 0x20B);
  put32(opt + 108, 16);
  put32(opt + 112 + 16, 0x1000);   // resource directory RVA
  put32(opt + 112 + 20, 0x58 + static_cast<uint32_t>(room));
  const size_t sec = opt + 240;
  std::memcpy(&f[sec], ".rsrc\0\0\0", 8);
  Bytes r(0x58 + room, 0);
  auto r16 = [&](size_t at, uint32_t v) { r[at] = uint8_t(v), r[at + 1] = uint8_t(v >> 8); };
  auto r32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) r[at + i] = uint8_t(v >> (8 * i));
  };
  r16(14, 1), r32(16, 6), r32(20, 0x80000018);          // type RT_STRING
  r16(0x18 + 14, 1), r32(0x28, 17), r32(0x2C, 0x80000030);  // name 17
  r16(0x30 + 14, 1), r32(0x40, language), r32(0x44, 0x48);  // language -> data entry
  r32(0x48, 0x1058), r32(0x4C, static_cast<uint32_t>(room));
  size_t pos = 0x58;
  for (int i = 0; i < 16; ++i) {
    std::u16string s = i < static_cast<int>(strings.size()) ? strings[i] : u"";
    r16(pos, static_cast<uint32_t>(s.size()));
    pos += 2;
    for (char16_t u : s) r16(pos, u), pos += 2;
  }
  put32(sec + 8, static_cast<uint32_t>(r.size()));
  put32(sec + 12, 0x1000);
  put32(sec + 16, static_cast<uint32_t>(r.size()));
  put32(sec + 20, 0x200);
  f.insert(f.end(), r.begin(), r.end());
  return f;
}

TEST(WrapTest, StringBlockPatchRoundTrip) {
  std::vector<std::u16string> original(16);
  original[0] = std::u16string(40, u'#');
  original[1] = std::u16string(40, u'#');
  original[5] = u"kept text";
  original[15] = u"last";
  for (uint32_t language : {1033u, 1031u}) {
    Bytes pe = makePe(original, 400, language);
    std::vector<std::u16string> strings;
    std::string error;
    ASSERT_TRUE(readStringBlock(pe, 17, strings, error)) << error;
    EXPECT_EQ(strings, original);
    ASSERT_TRUE(patchStringBlock(pe, 17, {{0, u"Svc %1$s \\x"}, {2, u"d\u00e9scription \u20ac"}}, error))
        << error;
    ASSERT_TRUE(readStringBlock(pe, 17, strings, error)) << error;
    EXPECT_EQ(strings[0], u"Svc %1$s \\x");
    EXPECT_EQ(strings[1], original[1]);
    EXPECT_EQ(strings[2], u"d\u00e9scription \u20ac");
    EXPECT_EQ(strings[5], u"kept text");
    EXPECT_EQ(strings[15], u"last");
  }
}

TEST(WrapTest, StringBlockThatIsTooSmallIsRefused) {
  Bytes pe = makePe({}, 40);
  std::string error;
  EXPECT_FALSE(patchStringBlock(pe, 17, {{0, std::u16string(10, u'x')}}, error));
  EXPECT_NE(error.find("bytes"), std::string::npos);
  Bytes notPe(300, 'M');
  EXPECT_FALSE(patchStringBlock(notPe, 17, {{0, u"x"}}, error));
  // Damaged headers: every truncation of a valid image fails cleanly.
  Bytes good = makePe({u"a"}, 64);
  for (size_t n = 0; n < good.size(); n += 7) {
    Bytes cut(good.begin(), good.begin() + n);
    std::vector<std::u16string> strings;
    EXPECT_FALSE(readStringBlock(cut, 17, strings, error)) << n;
  }
}

TEST(WrapTest, WindowsStubGetsTheServiceIdentity) {
  std::vector<std::u16string> room(16);
  for (int i = 0; i < 4; ++i) room[i] = std::u16string(64, u'#');
  WrapInput in = basicInput();
  in.stub = makePe(room, 2 * (16 + 4 * 64));
  Bytes slot = makeStub(0, 0);
  in.stub.insert(in.stub.end(), slot.begin(), slot.end());  // slot after the sections
  in.identity.displayName = "Hello \xE2\x82\xAC service";
  in.identity.dependencies = "Tcpip/Dhcp";
  WrapResult out;
  Failure f;
  ASSERT_TRUE(buildWrapped(in, out, f)) << f.message;
  std::vector<std::u16string> strings;
  std::string error;
  ASSERT_TRUE(readStringBlock(out.output, 17, strings, error)) << error;
  EXPECT_EQ(strings[0], u"hello");
  EXPECT_EQ(strings[1], u"Hello \u20ac service");
  EXPECT_EQ(strings[2], u"");
  EXPECT_EQ(strings[3], u"Tcpip/Dhcp");
  EXPECT_EQ(readBack(out.output).status, PayloadStatus::Ok);

  const std::vector<std::pair<const char*, int>> badNames = {
      {"", kUsage}, {"a/b", kUsage}, {"a\\b", kUsage}, {"\xC3", kUsage}};
  for (const auto& c : badNames) {
    in.identity.name = std::string(c.first);
    EXPECT_FALSE(buildWrapped(in, out, f)) << c.first;
    EXPECT_EQ(f.code, c.second) << c.first;
  }
  in.identity.name = std::string(255, 'n');
  EXPECT_FALSE(buildWrapped(in, out, f));
  EXPECT_EQ(f.code, kBadIdentity);
}

TEST(WrapTest, RealWindowsStubHasRoomForLongServiceTexts) {
  const char* tree = std::getenv("QLX_BUILD_WIN");
  std::string dir = tree != nullptr ? tree : std::string(QLX_SOURCE_DIR) + "/build/win";
  std::ifstream file(dir + "/launcher/qlx.exe", std::ios::binary);
  if (!file) GTEST_SKIP() << "no Windows stub built";
  Bytes stub((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  WrapInput in = basicInput();
  in.stub = stub;
  in.identity.name = std::string(200, 'n');
  in.identity.displayName = std::string(250, 'd');
  in.identity.description = std::string(1000, 'x');
  in.identity.dependencies = "A/B/C";
  WrapResult out;
  Failure f;
  ASSERT_TRUE(buildWrapped(in, out, f)) << f.message;
  std::vector<std::u16string> strings;
  std::string error;
  ASSERT_TRUE(readStringBlock(out.output, 17, strings, error)) << error;
  EXPECT_EQ(strings[2].size(), 1000u);
  EXPECT_EQ(strings[3], u"A/B/C");
}

TEST(WrapTest, OptionsParse) {
  Options o;
  Failure f;
  ASSERT_TRUE(parseOptions({"--stub", "s", "--jar=j", "-o", "out.EXE", "--merge", "m1", "--merge=m2",
                            "--support", "--service-name=", "--depends", "a/b"},
                           o, f))
      << f.message;
  EXPECT_EQ(o.stub, "s");
  EXPECT_EQ(o.jar, "j");
  EXPECT_EQ(o.output, "out.EXE");
  EXPECT_EQ(o.merges, (std::vector<std::string>{"m1", "m2"}));
  EXPECT_TRUE(o.support);
  EXPECT_EQ(o.identity.name, std::string());
  EXPECT_EQ(o.identity.dependencies, std::string("a/b"));
  EXPECT_EQ(defaultServiceName("dir/out.EXE"), "out");
  EXPECT_EQ(defaultServiceName("C:\\x\\tool.exe"), "tool");
  EXPECT_EQ(defaultServiceName("hello"), "hello");

  const std::vector<std::vector<std::string>> bad = {
      {},
      {"--stub", "s", "--jar", "j"},
      {"--stub", "s", "--jar", "j", "-o"},
      {"--stub", "s", "--jar", "j", "-o", "x", "--bogus"},
      {"--stub", "s", "--stub", "t", "--jar", "j", "-o", "x"},
      {"--stub=", "--jar", "j", "-o", "x"},
      {"--stub", "s", "--jar", "j", "-o", "x", "--support=yes"},
      {"stray"},
  };
  for (const auto& args : bad) {
    EXPECT_FALSE(parseOptions(args, o, f));
    EXPECT_EQ(f.code, kUsage);
  }
  EXPECT_TRUE(parseOptions({"--help"}, o, f));
  EXPECT_TRUE(o.help);
}

}  // namespace
}  // namespace qlx::wrap
