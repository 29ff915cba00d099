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

void redirectStdout(const std::string& target);
void redirectStderr(const std::string& target);

// Writes one byte to an operating-system handle (RedirOutputStream.write);
// the result is not examined.
void writeHandleByte(intptr_t handle, uint8_t byte);

}  // namespace qlx
