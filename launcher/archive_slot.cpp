// The archive length slot: 8 bytes that the generator fills with the
// archive length, followed by the marker it searches for. This is the only
// place where the marker text goes into the launcher image.
#include <cstdio>
#include <cstring>

#include "launcher/launcher_context.h"
#include "launcher/os.h"
#include "launcher/payload.h"

namespace qlx {
namespace {

struct ArchiveSlot {
  uint8_t length[8];
  char marker[sizeof(kArchiveSlotMarker)];
};
static_assert(sizeof(ArchiveSlot) == kArchiveSlotSize, "the generator expects 22 bytes");

constexpr ArchiveSlot makeSlot() {
  ArchiveSlot slot{};
  for (size_t i = 0; i < sizeof(kArchiveSlotMarker); ++i) slot.marker[i] = kArchiveSlotMarker[i];
  return slot;
}

// Read-only data of the image; `used` keeps it even though nothing names it
// except the volatile read below.
__attribute__((used)) const ArchiveSlot gArchiveSlot = makeSlot();

// The copy of the slot that the launcher works from, taken once.
uint8_t gSlotCopy[kArchiveSlotSize];

void dumpSlot(const uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const unsigned char c = bytes[i];
    std::putchar(c < 0x20 ? '.' : c);
  }
  std::putchar('\n');
  std::fflush(stdout);
}

}  // namespace

int64_t archiveLengthFromSlot() {
  // The stored value is 0 at compile time; only the generator changes it in
  // the file, so the compiler must not be allowed to fold the read.
  const volatile uint8_t* slot = reinterpret_cast<const volatile uint8_t*>(&gArchiveSlot);
  for (size_t i = 0; i < kArchiveSlotSize; ++i) gSlotCopy[i] = slot[i];
  if (systemOs().getEnv("_BROVANE_BINARY_DEBUG_")) dumpSlot(gSlotCopy, kArchiveSlotSize);
  const uint32_t v = uint32_t(gSlotCopy[0]) | uint32_t(gSlotCopy[1]) << 8 |
                     uint32_t(gSlotCopy[2]) << 16 | uint32_t(gSlotCopy[3]) << 24;
  return static_cast<int32_t>(v);
}

}  // namespace qlx
