// The event log bridge: the natives of com.tarnwick.qlx.EventLog keep the
// event source handle in the object's field `h`. The operating system's side
// is in event_log_win.cpp (RegisterEventSourceW, ReportEventW); Linux has no
// event log, so there registration yields no handle and nothing is written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qlx {

// 0 when the source cannot be registered. A null server is the local
// computer; a null source is the launcher executable's file name.
intptr_t registerEventSource(const std::u16string* server, const std::u16string* source);
void reportEvent(intptr_t handle, uint16_t type, uint16_t category, uint32_t eventId,
                 const std::vector<std::u16string>& strings, const std::vector<uint8_t>& data);
void deregisterEventSource(intptr_t handle);

}  // namespace qlx
