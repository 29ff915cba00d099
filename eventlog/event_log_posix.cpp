// Linux has no Windows event log: an EventLog object gets no source, and its
// reports do nothing, as on Windows when registration fails.
#include "eventlog/event_log.h"

namespace qlx {

intptr_t registerEventSource(const std::u16string*, const std::u16string*) { return 0; }

void reportEvent(intptr_t, uint16_t, uint16_t, uint32_t, const std::vector<std::u16string>&,
                 const std::vector<uint8_t>&) {}

void deregisterEventSource(intptr_t) {}

}  // namespace qlx
