// The Windows event log through the wide functions, so insertion strings and
// source names keep every character Java gave them.
#include <vector>

#include "eventlog/event_log.h"
#include "launcher/module_path_win.h"

namespace qlx {

namespace {

// The executable's file name, extension included. Read as UTF-16, so a name
// outside the ANSI code page survives.
std::u16string executableFileName() {
  const WideText path = executablePathWide();
  const size_t slash = path.find_last_of(u"\\/");
  return slash == WideText::npos ? path : path.substr(slash + 1);
}

}  // namespace

intptr_t registerEventSource(const std::u16string* server, const std::u16string* source) {
  const std::u16string sourceName = source != nullptr ? *source : executableFileName();
  HANDLE handle =
      RegisterEventSourceW(server != nullptr ? wideChars(*server) : nullptr, wideChars(sourceName));
  return reinterpret_cast<intptr_t>(handle);
}

void reportEvent(intptr_t handle, uint16_t type, uint16_t category, uint32_t eventId,
                 const std::vector<std::u16string>& strings, const std::vector<uint8_t>& data) {
  std::vector<LPCWSTR> pointers;
  pointers.reserve(strings.size() + 1);
  for (const std::u16string& text : strings) pointers.push_back(wideChars(text));
  pointers.push_back(nullptr);
  ReportEventW(reinterpret_cast<HANDLE>(handle), type, category, eventId, nullptr,
               static_cast<WORD>(strings.size()), static_cast<DWORD>(data.size()),
               strings.empty() ? nullptr : pointers.data(),
               data.empty() ? nullptr : const_cast<uint8_t*>(data.data()));
}

void deregisterEventSource(intptr_t handle) {
  DeregisterEventSource(reinterpret_cast<HANDLE>(handle));
}

}  // namespace qlx
