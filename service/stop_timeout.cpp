// The `stoptimeout` value as a number of seconds.
#include "service/stop_timeout.h"

namespace qlx {

uint32_t stopTimeoutSeconds(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  if (begin == end) return kDefaultStopTimeoutSeconds;
  uint32_t seconds = 0;
  for (size_t i = begin; i < end; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return kDefaultStopTimeoutSeconds;
    seconds = seconds * 10 + static_cast<uint32_t>(c - '0');
    if (seconds > kMaxStopTimeoutSeconds) return kDefaultStopTimeoutSeconds;
  }
  return seconds == 0 ? kDefaultStopTimeoutSeconds : seconds;
}

}  // namespace qlx
