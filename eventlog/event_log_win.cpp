// The Windows event log through the wide functions, so insertion strings and
// source names keep every character Java gave them.
#include <vector>

#include "eventlog/event_log.h"
#include "launcher/win32.h"

namespace qlx {

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 units are Windows wide characters");

LPCWSTR wide(const std::u16string& units) { return reinterpret_cast<LPCWSTR>(units.c_str()); }

// The executable's file name, extension included. Read as UTF-16, so a name
// outside the ANSI code page survives.
std::u16string executableFileName() {
  std::vector<wchar_t> path(MAX_PATH);
  DWORD length;
  for (;;) {
    length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::u16string();
    if (length < path.size()) break;
    path.resize(path.size() * 2);
  }
  DWORD start = length;
  while (start > 0 && path[start - 1] != L'\\' && path[start - 1] != L'/') --start;
  return std::u16string(reinterpret_cast<const char16_t*>(path.data()) + start,
                        reinterpret_cast<const char16_t*>(path.data()) + length);
}

}  // namespace

intptr_t registerEventSource(const std::u16string* server, const std::u16string* source) {
  const std::u16string sourceName = source != nullptr ? *source : executableFileName();
  HANDLE handle = RegisterEventSourceW(server != nullptr ? wide(*server) : nullptr, wide(sourceName));
  return reinterpret_cast<intptr_t>(handle);
}

void reportEvent(intptr_t handle, uint16_t type, uint16_t category, uint32_t eventId,
                 const std::vector<std::u16string>& strings, const std::vector<uint8_t>& data) {
  std::vector<LPCWSTR> pointers;
  pointers.reserve(strings.size() + 1);
  for (const std::u16string& text : strings) pointers.push_back(wide(text));
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
