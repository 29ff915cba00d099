// Locating the payload: valid layouts, zip comments and long trailers, and
// every way the lengths in a damaged file can lie.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "launcher/payload.h"

namespace qlx {
namespace {

using Bytes = std::vector<uint8_t>;

void putInt32(Bytes& b, size_t at, int32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(uint32_t(v) >> (8 * i));
}

// A wrapped file: stub, block (text + NUL), L, digest, archive, trailer.
struct Wrapped {
  Bytes bytes;
  int64_t archiveLength = 0;
  size_t blockOffset = 0;
};

Wrapped makeWrapped(const std::string& text, size_t archiveBody = 40, size_t commentLength = 0,
                    size_t trailing = 0, size_t stub = 64) {
  Wrapped w;
  w.bytes.assign(stub, 0x90);
  w.blockOffset = w.bytes.size();
  w.bytes.insert(w.bytes.end(), text.begin(), text.end());
  w.bytes.push_back(0);
  const size_t lengthAt = w.bytes.size();
  w.bytes.resize(lengthAt + 4);
  putInt32(w.bytes, lengthAt, static_cast<int32_t>(text.size() + 1));
  for (int i = 0; i < 16; ++i) w.bytes.push_back(static_cast<uint8_t>(0xD0 + i));
  const size_t archiveStart = w.bytes.size();
  w.bytes.insert(w.bytes.end(), archiveBody, 0x11);
  const uint8_t end[22] = {'P', 'K', 5, 6};
  w.bytes.insert(w.bytes.end(), end, end + 22);
  w.bytes[w.bytes.size() - 2] = static_cast<uint8_t>(commentLength & 0xFF);
  w.bytes[w.bytes.size() - 1] = static_cast<uint8_t>(commentLength >> 8);
  w.archiveLength = static_cast<int64_t>(w.bytes.size() - archiveStart);
  w.bytes.insert(w.bytes.end(), commentLength, 'c');
  w.bytes.insert(w.bytes.end(), trailing, 't');
  return w;
}

TEST(PayloadTest, ValidLayoutIsFoundAndBlockRead) {
  const std::string text = "\xEF\xBB\xBFmainclass a.B\r\nappid x\r\n";
  Wrapped w = makeWrapped(text);
  PayloadLayout layout;
  ASSERT_EQ(locatePayload(w.bytes.data(), w.bytes.size(), w.archiveLength, layout),
            PayloadStatus::Ok);
  EXPECT_EQ(layout.fileSize, w.bytes.size());
  EXPECT_EQ(layout.trailingLength, 0);
  EXPECT_EQ(layout.blockLength, static_cast<int64_t>(text.size() + 1));
  EXPECT_EQ(layout.blockOffset, static_cast<int64_t>(w.blockOffset));
  EXPECT_EQ(layout.digestOffset, static_cast<int64_t>(w.blockOffset + text.size() + 1 + 4));
  EXPECT_EQ(w.bytes[layout.digestOffset], 0xD0);
  EXPECT_FALSE(layout.rootJarLength);
  EXPECT_EQ(readConfigBlock(w.bytes.data(), layout), text);
}

TEST(PayloadTest, ZipCommentAndLongTrailer) {
  struct Case {
    size_t comment;
    size_t trailing;
    int64_t expectTrailing;
    bool rootJar;
  } cases[] = {
      {100, 0, 100, false},
      {0, 70000, 70000, true},
      {0, 65535, 65535, false},
      {0, 65536, 65536, true},
  };
  for (const Case& c : cases) {
    Wrapped w = makeWrapped("appid x", 40, c.comment, c.trailing);
    PayloadLayout layout;
    ASSERT_EQ(locatePayload(w.bytes.data(), w.bytes.size(), w.archiveLength, layout),
              PayloadStatus::Ok)
        << c.trailing;
    EXPECT_EQ(layout.trailingLength, c.expectTrailing);
    EXPECT_EQ(layout.rootJarLength, c.rootJar);
    EXPECT_EQ(readConfigBlock(w.bytes.data(), layout), "appid x");
  }
}

TEST(PayloadTest, ArchiveEndIsTheLastSignatureInTheWindow) {
  Bytes b(200, 0);
  std::memcpy(&b[50], "PK\x05\x06", 4);
  std::memcpy(&b[120], "PK\x05\x06", 4);
  EXPECT_EQ(findArchiveEnd(b.data(), b.size()), 120);
  // A signature in the last 21 bytes cannot start a whole record.
  std::memcpy(&b[190], "PK\x05\x06", 4);
  EXPECT_EQ(findArchiveEnd(b.data(), b.size()), 120);
  std::memcpy(&b[178], "PK\x05\x06", 4);
  EXPECT_EQ(findArchiveEnd(b.data(), b.size()), 178);
}

TEST(PayloadTest, ArchiveEndOutsideTheWindowIsNotFound) {
  // 5 MiB window + 22: a record that far from the end is out of reach.
  const size_t size = 0x500000 + 22 + 100;
  Bytes b(size, 0);
  std::memcpy(&b[50], "PK\x05\x06", 4);
  EXPECT_EQ(findArchiveEnd(b.data(), b.size()), -1);
  std::memcpy(&b[100], "PK\x05\x06", 4);
  EXPECT_EQ(findArchiveEnd(b.data(), b.size()), 100);
}

TEST(PayloadTest, TinyFilesAreHandled) {
  for (size_t size = 0; size < 64; ++size) {
    Bytes b(size, 0);
    if (size >= 22) std::memcpy(&b[size - 22], "PK\x05\x06", 4);
    PayloadLayout layout;
    const PayloadStatus status = locatePayload(size ? b.data() : nullptr, size, 22, layout);
    EXPECT_NE(status, PayloadStatus::Ok) << size;
  }
  EXPECT_EQ(findArchiveEnd(nullptr, 0), -1);
}

TEST(PayloadTest, EveryBrokenLengthIsRefused) {
  Wrapped good = makeWrapped("appid x");
  const size_t lengthAt = good.blockOffset + 8;  // text(7) + NUL
  struct Case {
    const char* name;
    int64_t archiveLength;
    int32_t blockLength;  // INT32_MIN: leave as written
    bool unterminated;
    bool noArchiveEnd;
    PayloadStatus status;
  } cases[] = {
      {"bare stub", 0, INT32_MIN, false, false, PayloadStatus::NoArchiveLength},
      {"bare stub without zip", 0, INT32_MIN, false, true, PayloadStatus::NoArchiveLength},
      {"no archive end", good.archiveLength, INT32_MIN, false, true, PayloadStatus::NoArchiveEnd},
      {"negative archive length", -5, INT32_MIN, false, false, PayloadStatus::BadArchiveLength},
      {"archive shorter than its end record", 21, INT32_MIN, false, false,
       PayloadStatus::BadArchiveLength},
      {"archive larger than the file", int64_t(good.bytes.size()) + 1, INT32_MIN, false, false,
       PayloadStatus::BadArchiveLength},
      {"archive leaves no room for the length", int64_t(good.bytes.size()) - 19, INT32_MIN, false,
       false, PayloadStatus::BadArchiveLength},
      {"huge archive length", INT64_MAX, INT32_MIN, false, false, PayloadStatus::BadArchiveLength},
      {"block length zero", good.archiveLength, 0, false, false, PayloadStatus::BadBlockLength},
      {"block length negative", good.archiveLength, -1, false, false,
       PayloadStatus::BadBlockLength},
      {"block length too big", good.archiveLength, int32_t(lengthAt) + 1, false, false,
       PayloadStatus::BadBlockLength},
      {"block length max", good.archiveLength, INT32_MAX, false, false,
       PayloadStatus::BadBlockLength},
      {"block length whole prefix", good.archiveLength, int32_t(lengthAt), false, false,
       PayloadStatus::Ok},
      {"unterminated block", good.archiveLength, INT32_MIN, true, false,
       PayloadStatus::BlockNotTerminated},
  };
  for (const Case& c : cases) {
    Bytes b = good.bytes;
    if (c.blockLength != INT32_MIN) putInt32(b, lengthAt, c.blockLength);
    if (c.unterminated) b[lengthAt - 1] = 'x';
    if (c.noArchiveEnd) b[b.size() - 22] = 'Q';
    PayloadLayout layout;
    EXPECT_EQ(locatePayload(b.data(), b.size(), c.archiveLength, layout), c.status) << c.name;
    EXPECT_STRNE(payloadStatusText(c.status), "") << c.name;
    // Reading the block of a refused layout yields nothing and reads nothing.
    if (c.status != PayloadStatus::Ok) {
      PayloadLayout bogus = layout;
      bogus.blockOffset = int64_t(b.size()) - 2;
      bogus.blockLength = 100;
      EXPECT_EQ(readConfigBlock(b.data(), bogus), "") << c.name;
    }
  }
}

TEST(PayloadTest, BlockWithInnerNulIsReturnedWhole) {
  // UTF-16 blocks hold NUL bytes inside their text.
  const std::string text("\xFF\xFEm\0a\0", 6);
  Wrapped w = makeWrapped(text);
  PayloadLayout layout;
  ASSERT_EQ(locatePayload(w.bytes.data(), w.bytes.size(), w.archiveLength, layout),
            PayloadStatus::Ok);
  EXPECT_EQ(readConfigBlock(w.bytes.data(), layout), text);
}

TEST(PayloadTest, ArchiveSlotIsFoundOnlyWhenUnique) {
  Bytes image(300, 0x55);
  EXPECT_EQ(findArchiveSlot(image.data(), image.size()), -1);
  std::memcpy(&image[100], kArchiveSlotMarker, sizeof(kArchiveSlotMarker));
  EXPECT_EQ(findArchiveSlot(image.data(), image.size()), 100);
  std::memcpy(&image[200], kArchiveSlotMarker, sizeof(kArchiveSlotMarker));
  EXPECT_EQ(findArchiveSlot(image.data(), image.size()), -1);
  // The marker needs its 8-byte field in front of it.
  Bytes early(64, 0);
  std::memcpy(&early[3], kArchiveSlotMarker, sizeof(kArchiveSlotMarker));
  EXPECT_EQ(findArchiveSlot(early.data(), early.size()), -1);
  // A marker at the very end of the image.
  Bytes atEnd(40, 0);
  std::memcpy(&atEnd[40 - sizeof(kArchiveSlotMarker)], kArchiveSlotMarker,
              sizeof(kArchiveSlotMarker));
  EXPECT_EQ(findArchiveSlot(atEnd.data(), atEnd.size()), int64_t(40 - sizeof(kArchiveSlotMarker)));
  EXPECT_EQ(findArchiveSlot(nullptr, 0), -1);
}

}  // namespace
}  // namespace qlx
