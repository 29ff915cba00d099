// The carrier of a rotated log: a pipe takes the place of the file as the
// standard handle, and a thread drains it into a RotatingLog, whole lines
// at a time where rotation is concerned. Writers (the launcher, the VM,
// natives, child processes) keep writing to a standard handle as before.
//
// rotating_log_win.cpp / rotating_log_posix.cpp provide it; the handles are
// HANDLE values on Windows and descriptors on Linux.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "redirect/rotating_log.h"

namespace qlx {

class LogPump {
 public:
  // Null when the log file cannot be opened, with why not in `problem`
  // (the caller then leaves the stream as it was).
  static std::unique_ptr<LogPump> start(const std::string& path, const RotationPolicy& policy,
                                        RotatingLog::Warn warn, std::string& problem);
  ~LogPump();
  LogPump(const LogPump&) = delete;
  LogPump& operator=(const LogPump&) = delete;

  // The pipe's write end, owned by the pump.
  intptr_t writeEnd() const;
  // The file output currently goes into, owned by the pump: where the
  // standard handles point once the pump has finished.
  intptr_t currentFile() const;
  // Writes everything the pipe holds into the file, then stops the thread;
  // no rotation happens from here on. Takes at most about `boundMs` even
  // when the thread is stuck or writers keep writing. Safe to call more
  // than once and from any thread, also while the process is ending. The
  // caller has pointed its own standard handles at currentFile() first.
  // On Linux, writers that outlive the process (children that inherited
  // the standard descriptors) keep a reader: their lines go on into the
  // file, unrotated, until the last of them ends.
  void finish(uint32_t boundMs);

  struct State;

 private:
  explicit LogPump(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace qlx
