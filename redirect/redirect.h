// Redirection of the process's standard output and standard error into a
// file (appended) or into the standard input of a command ("|command").
// redirect_win.cpp / redirect_posix.cpp.
#pragma once

#include <cstdint>
#include <string>

namespace qlx {

void redirectStdout(const std::string& target);
void redirectStderr(const std::string& target);

// Writes one byte to an operating-system handle (RedirOutputStream.write);
// the result is not examined.
void writeHandleByte(intptr_t handle, uint8_t byte);

}  // namespace qlx
