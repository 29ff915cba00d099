// Redirection of the process's standard output and standard error into a
// file (appended) or into the standard input of a command ("|command").
// redirect_win.cpp / redirect_posix.cpp.
#pragma once

#include <cstdint>
#include <string>

#include "redirect/log_rotation.h"

namespace qlx {

// File targets opened after this call are rotated by `policy` (when it
// is enabled); until then, and without it, they are plain appended files.
void setLogRotation(const RotationPolicy& policy);
// Carries the output still on its way into the rotated logs and points the
// standard handles at the files themselves. For the moment the process is
// ending without returning from main (the VM's exit hook); safe to repeat.
void finishRotatedLogs();
// The same within about `boundMs`, for a process about to be ended at once
// (a service stop past its bound): what the logs' pipes hold reaches the
// files, and a line written to the standard handles afterwards goes
// straight into them. Touches no lock of the runtime library.
void drainRotatedLogs(uint32_t boundMs);

// Each returns why the target's log file cannot be opened (the stream then
// stays as it was), or empty: opened, a pipe target, or a text an earlier
// call has tried already.
std::string redirectStdout(const std::string& target);
std::string redirectStderr(const std::string& target);

// Says `line` (a log of standard output, or of standard error, cannot be
// opened) where it will be seen: on the stream that stayed where it was
// (the console); when that goes nowhere (a service), on standard error as
// redirected (the error log); and with nowhere at all in the system's
// event log (Windows) and appended to `fallback` (empty: none).
void sayLogNotOpened(bool standardOutput, const std::string& line, const std::string& fallback);

// Writes one byte to an operating-system handle (RedirOutputStream.write);
// the result is not examined.
void writeHandleByte(intptr_t handle, uint8_t byte);

}  // namespace qlx
