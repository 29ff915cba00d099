// How long a service stop may take: the `stoptimeout` key, in whole
// seconds. The stop bound, the wait hint of the stop and the preshutdown
// time given at installation all come from it.
#pragma once

#include <cstdint>
#include <string>

namespace qlx {

constexpr uint32_t kDefaultStopTimeoutSeconds = 20;
// An hour: beyond that a stuck stop would only hold up the machine's
// shutdown, and milliseconds still fit every field they go into.
constexpr uint32_t kMaxStopTimeoutSeconds = 3600;

// Decimal digits, with spaces around them allowed; empty text, anything
// else, 0 or more than kMaxStopTimeoutSeconds gives the default.
uint32_t stopTimeoutSeconds(const std::string& text);

}  // namespace qlx
