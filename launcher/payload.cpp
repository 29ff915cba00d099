// Locating the payload in a wrapped file (placeholder).
#include "launcher/payload.h"
namespace qlx {
const char* payloadStatusText(PayloadStatus) { return ""; }
int64_t findArchiveEnd(const uint8_t*, uint64_t) { return -1; }
PayloadStatus locatePayload(const uint8_t*, uint64_t, int64_t, PayloadLayout&) { return PayloadStatus::NoArchiveLength; }
std::string readConfigBlock(const uint8_t*, const PayloadLayout&) { return {}; }
int64_t findArchiveSlot(const uint8_t*, uint64_t) { return -1; }
}  // namespace qlx
