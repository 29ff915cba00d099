// Redirection of the process's standard output and standard error into a
// file (appended) or into the standard input of a command ("|command").
// redirect_win.cpp / redirect_posix.cpp.
#pragma once

#include <string>

namespace qlx {

void redirectStdout(const std::string& target);
void redirectStderr(const std::string& target);

}  // namespace qlx
