// Fuzzes the payload reader over arbitrary file contents: the archive end
// search, the layout checks and the block copy must stay inside the bytes.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "launcher/payload.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qlx;
  // An exact-size heap copy, so that any read past the end is caught.
  std::vector<uint8_t> file(data, data + size);
  const uint8_t* bytes = file.empty() ? nullptr : file.data();

  const int64_t end = findArchiveEnd(bytes, size);
  if (end >= 0 && (static_cast<uint64_t>(end) + 22 > size || std::memcmp(bytes + end, "PK\5\6", 4)))
    std::abort();

  // Archive lengths: the first bytes (as the slot would hold them), and
  // the exact length a well-formed file would have.
  std::vector<int64_t> lengths = {0, 1, 22, -1, INT64_MAX, INT64_MIN};
  if (size >= 4) {
    int32_t fromInput;
    std::memcpy(&fromInput, bytes, 4);
    lengths.push_back(fromInput);
  }
  if (end >= 0) {
    for (int64_t a = 22; a <= end + 22 && a < 22 + 64; ++a) lengths.push_back(a);
  }
  for (int64_t archiveLength : lengths) {
    PayloadLayout layout;
    const PayloadStatus status = locatePayload(bytes, size, archiveLength, layout);
    (void)payloadStatusText(status);
    const std::string block = readConfigBlock(bytes, layout);
    if (status == PayloadStatus::Ok) {
      if (layout.blockOffset < 0 || layout.blockLength <= 0 ||
          static_cast<uint64_t>(layout.blockOffset + layout.blockLength + 4 + 16) > size)
        std::abort();
      if (block.size() + 1 != static_cast<size_t>(layout.blockLength)) std::abort();
    }
  }
  (void)findArchiveSlot(bytes, size);
  return 0;
}
