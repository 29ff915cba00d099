// Locating the payload that the generator appends to the launcher image.
//
//   [image][config block: BOM, text, NUL][L: i32][digest: 16][archive: A][trailing: T]
//
// Everything here works on bytes already in memory, so it is shared by the
// launcher (which maps its own file) and the generator, and can be fuzzed.
#pragma once

#include <cstdint>
#include <string>

namespace qlx {

// The 8-byte archive-length field the generator fills, followed by this
// 13-character marker and its NUL (22 bytes in all).
inline constexpr char kArchiveSlotMarker[] = "qlx:arclen:v1";
inline constexpr size_t kArchiveSlotSize = 22;
inline constexpr size_t kDigestSize = 16;
inline constexpr uint32_t kRootJarTrailingLimit = 0x10000;

enum class PayloadStatus {
  Ok,
  NoArchiveLength,     // the slot still holds 0: a bare launcher without payload
  NoArchiveEnd,        // no zip end-of-central-directory record near the end
  BadArchiveLength,    // archive length does not fit in the file
  BadBlockLength,      // configuration block length breaks 0 < L <= D - 4
  BlockNotTerminated,  // the block's last byte is not its NUL
  Unreadable,          // the launcher file could not be opened or mapped
};

// Short English description of a status, for the launcher's refusal line.
const char* payloadStatusText(PayloadStatus status);

struct PayloadLayout {
  uint64_t fileSize = 0;        // S
  int64_t trailingLength = 0;   // T
  int64_t archiveLength = 0;    // A
  int64_t digestOffset = 0;     // D = S - T - A - 16
  int64_t blockLength = 0;      // L
  int64_t blockOffset = 0;      // D - 4 - L
  bool rootJarLength = false;   // T >= 0x10000: _BROVANE_ROOT_JAR_LENGTH_ = S - T
};

// Offset of the last end-of-central-directory signature within the search
// window (max(S/10, 5 MiB) + 22 bytes from the end), or -1.
int64_t findArchiveEnd(const uint8_t* data, uint64_t size);

// Validates the layout of a whole file given the archive length read from
// the slot. Never reads outside [data, data + size).
PayloadStatus locatePayload(const uint8_t* data, uint64_t size, int64_t archiveLength,
                            PayloadLayout& out);

// The configuration block bytes without its terminating NUL. A UTF-16 block
// holds NUL bytes inside its text, so cutting at the end of the text is left
// to appendConfigurationText, which knows the encoding.
std::string readConfigBlock(const uint8_t* data, const PayloadLayout& layout);

// Position of the archive slot marker in an image, or -1 when it is missing
// or occurs more than once (used by the generator; the slot starts 8 bytes
// before the marker).
int64_t findArchiveSlot(const uint8_t* data, uint64_t size);

}  // namespace qlx
