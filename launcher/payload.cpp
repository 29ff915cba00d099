// Locating the payload in a wrapped file. Every length in the file is
// untrusted (a truncated download, a file edited by hand, a stub run
// without a payload), so each one is checked against the file size before
// anything is read through it.
#include "launcher/payload.h"

#include <cstring>

namespace qlx {
namespace {

constexpr uint64_t kEndRecordSize = 22;       // zip end-of-central-directory record
constexpr uint64_t kMinimumWindow = 0x500000;  // 5 MiB
constexpr size_t kMarkerBytes = sizeof(kArchiveSlotMarker);  // 13 characters and the NUL

int32_t readInt32(const uint8_t* p) {
  const uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                     uint32_t(p[3]) << 24;
  return static_cast<int32_t>(v);
}

// The marker must occur exactly once in the launcher image, in the slot.
// Keeping a plain copy here for the search would put a second one into the
// image, so the search key is stored scrambled and unscrambled at run time
// through a volatile the compiler cannot fold.
constexpr uint8_t kScramble = 0xA5;

struct ScrambledMarker {
  uint8_t bytes[kMarkerBytes];
};

constexpr ScrambledMarker scrambledMarker() {
  ScrambledMarker m{};
  for (size_t i = 0; i < kMarkerBytes; ++i)
    m.bytes[i] = static_cast<uint8_t>(kArchiveSlotMarker[i]) ^ kScramble;
  return m;
}

constexpr ScrambledMarker kScrambledMarker = scrambledMarker();

}  // namespace

const char* payloadStatusText(PayloadStatus status) {
  switch (status) {
    case PayloadStatus::Ok:
      return "payload found";
    case PayloadStatus::NoArchiveLength:
      return "no payload: this is the bare launcher stub";
    case PayloadStatus::NoArchiveEnd:
      return "archive end record not found";
    case PayloadStatus::BadArchiveLength:
      return "archive length does not fit in the file";
    case PayloadStatus::BadBlockLength:
      return "configuration block length is damaged";
    case PayloadStatus::BlockNotTerminated:
      return "configuration block is not terminated";
    case PayloadStatus::Unreadable:
      return "the launcher file cannot be read";
  }
  return "unknown payload status";
}

int64_t findArchiveEnd(const uint8_t* data, uint64_t size) {
  if (data == nullptr || size < kEndRecordSize) return -1;
  const uint64_t window = size / 10 > kMinimumWindow ? size / 10 : kMinimumWindow;
  const uint64_t lowest = size > window + kEndRecordSize ? size - window - kEndRecordSize : 0;
  for (uint64_t at = size - kEndRecordSize + 1; at-- > lowest;) {
    if (data[at] == 'P' && data[at + 1] == 'K' && data[at + 2] == 5 && data[at + 3] == 6)
      return static_cast<int64_t>(at);
  }
  return -1;
}

PayloadStatus locatePayload(const uint8_t* data, uint64_t size, int64_t archiveLength,
                            PayloadLayout& out) {
  out = PayloadLayout{};
  out.fileSize = size;
  out.archiveLength = archiveLength;
  // Sizes beyond 2^62 cannot be real files; keeping them out makes every
  // signed subtraction below safe.
  if (data == nullptr || size > (uint64_t(1) << 62)) return PayloadStatus::Unreadable;

  const int64_t end = findArchiveEnd(data, size);
  if (end >= 0) {
    out.trailingLength = static_cast<int64_t>(size) - end - static_cast<int64_t>(kEndRecordSize);
    out.rootJarLength = out.trailingLength >= static_cast<int64_t>(kRootJarTrailingLimit);
  }
  if (archiveLength == 0) return PayloadStatus::NoArchiveLength;
  if (end < 0) return PayloadStatus::NoArchiveEnd;

  const int64_t s = static_cast<int64_t>(size);
  // The archive holds at least its own end record, and the digest and the
  // length field have to fit in front of it.
  if (archiveLength < static_cast<int64_t>(kEndRecordSize) ||
      archiveLength > s - out.trailingLength - static_cast<int64_t>(kDigestSize) - 4)
    return PayloadStatus::BadArchiveLength;

  const int64_t digestOffset = s - out.trailingLength - archiveLength - kDigestSize;
  out.digestOffset = digestOffset;
  const int64_t blockLength = readInt32(data + digestOffset - 4);
  out.blockLength = blockLength;
  if (blockLength <= 0 || blockLength > digestOffset - 4) return PayloadStatus::BadBlockLength;
  out.blockOffset = digestOffset - 4 - blockLength;
  if (data[digestOffset - 5] != 0) return PayloadStatus::BlockNotTerminated;
  return PayloadStatus::Ok;
}

std::string readConfigBlock(const uint8_t* data, const PayloadLayout& layout) {
  if (data == nullptr || layout.blockLength <= 0 || layout.blockOffset < 0 ||
      static_cast<uint64_t>(layout.blockOffset) > layout.fileSize ||
      static_cast<uint64_t>(layout.blockLength) > layout.fileSize - layout.blockOffset)
    return {};
  const char* begin = reinterpret_cast<const char*>(data + layout.blockOffset);
  size_t length = static_cast<size_t>(layout.blockLength);
  if (begin[length - 1] == '\0') --length;  // the terminating NUL
  return std::string(begin, length);
}

int64_t findArchiveSlot(const uint8_t* data, uint64_t size) {
  if (data == nullptr || size < kArchiveSlotSize) return -1;
  volatile uint8_t mask = kScramble;
  uint8_t marker[kMarkerBytes];
  for (size_t i = 0; i < kMarkerBytes; ++i) marker[i] = kScrambledMarker.bytes[i] ^ mask;

  int64_t found = -1;
  const uint8_t* p = data + 8;
  const uint8_t* last = data + size - kMarkerBytes;
  while (p <= last) {
    const void* hit = std::memchr(p, marker[0], static_cast<size_t>(last - p) + 1);
    if (hit == nullptr) break;
    p = static_cast<const uint8_t*>(hit);
    if (std::memcmp(p, marker, kMarkerBytes) == 0) {
      // Two markers: writing into either could corrupt the image.
      if (found >= 0) return -1;
      found = p - data;
    }
    ++p;
  }
  return found;
}

}  // namespace qlx
