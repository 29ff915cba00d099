// The start-up trace: with _BROVANE_TRACE_ set, one line per decision the
// launcher takes, each stamped with the milliseconds since start, so a user
// can see why a start failed ("1": standard error, which start-up redirects
// into the error log; any other value: a file to append to).
//
// Callers test tracing() before they build a line: with the variable unset
// a start pays for one load and one branch per decision, nothing else.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qlx {

class Trace {
 public:
  // Reads the setting (the variable's value, or none). Starts the clock.
  void start(const std::optional<std::string>& setting);
  bool on() const { return sink_ != Sink::Off; }
  // Writes "qlx +<ms>ms " and the parts, then a line feed, flushed at once:
  // the VM may end the process without returning. A line that cannot be
  // written is dropped silently.
  void line(const char* const* parts, int count);
  // Milliseconds since start().
  uint64_t elapsedMs() const;
  // Standard error now points where start-up redirected it: the lines held
  // until then go there, and later lines follow them.
  void streamsReady();

 private:
  enum class Sink { Off, Stderr, File };
  Sink sink_ = Sink::Off;
  std::string path_;
  std::string held_;  // lines for standard error written before it was redirected
  bool holding_ = false;
  uint64_t startMs_ = 0;
};

// The process's trace, started by the start-up sequence.
extern Trace gProcessTrace;
inline bool tracing() { return gProcessTrace.on(); }

// One line of up to six texts. Plain C strings keep each call site to a
// few register loads: the stub must stay small.
inline void trace(const char* a, const char* b = "", const char* c = "", const char* d = "",
                  const char* e = "", const char* f = "") {
  const char* const parts[] = {a, b, c, d, e, f};
  gProcessTrace.line(parts, 6);
}

// Decimal text of a number, written into `buffer`, without the runtime's
// formatter. Returns `buffer`.
struct DecimalBuffer {
  char text[21];
};
const char* decimal(uint64_t value, DecimalBuffer& buffer);

// A monotonic clock in milliseconds (startup_win.cpp: the performance
// counter; startup_posix.cpp: CLOCK_MONOTONIC).
uint64_t monotonicMs();

}  // namespace qlx
