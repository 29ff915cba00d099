// The start-up trace: a switch read once, a clock, and lines appended to
// standard error or to a file. Nothing here may change what the launcher
// does, so every failure to write is ignored.
#include "launcher/trace.h"

#include <cstdio>

namespace qlx {

Trace gProcessTrace;

const char* decimal(uint64_t value, DecimalBuffer& buffer) {
  char* end = buffer.text + sizeof buffer.text - 1;
  *end = '\0';
  do {
    *--end = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  return end;
}

void Trace::start(const std::optional<std::string>& setting) {
  startMs_ = monotonicMs();
  if (!setting || setting->empty()) {
    sink_ = Sink::Off;
  } else if (*setting == "1") {
    // The first lines come before standard error reaches the error log.
    sink_ = Sink::Stderr;
    holding_ = true;
  } else {
    sink_ = Sink::File;
    path_ = *setting;
  }
}

uint64_t Trace::elapsedMs() const { return monotonicMs() - startMs_; }

void Trace::streamsReady() {
  if (!holding_) return;
  holding_ = false;
  std::fputs(held_.c_str(), stderr);
  std::fflush(stderr);
  std::string().swap(held_);
}

void Trace::line(const char* const* parts, int count) {
  if (sink_ == Sink::Off) return;
  DecimalBuffer ms;
  if (holding_) {
    held_ += "qlx +";
    held_ += decimal(elapsedMs(), ms);
    held_ += "ms ";
    for (int i = 0; i < count; ++i) held_ += parts[i];
    held_ += '\n';
    return;
  }
  // The file is opened per line: start-up redirects and may close standard
  // streams between lines, and a kept handle would also keep the file
  // locked on Windows while the application runs.
  std::FILE* out = sink_ == Sink::Stderr ? stderr : std::fopen(path_.c_str(), "ab");
  if (out == nullptr) return;
  std::fputs("qlx +", out);
  std::fputs(decimal(elapsedMs(), ms), out);
  std::fputs("ms ", out);
  for (int i = 0; i < count; ++i) std::fputs(parts[i], out);
  std::fputc('\n', out);
  if (out == stderr) {
    std::fflush(out);
  } else {
    std::fclose(out);
  }
}

}  // namespace qlx
