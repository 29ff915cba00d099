// File access of qlxwrap (file_ops_posix.cpp, file_ops_win.cpp). Paths and
// arguments are UTF-8 on both systems.
#pragma once

#include <string>
#include <vector>

#include "tools/qlxwrap/wrap.h"

namespace qlx::wrap {

// The command line as UTF-8 (Windows: from the wide command line).
std::vector<std::string> commandLineUtf8(int argc, char** argv);

bool readWholeFile(const std::string& path, Bytes& out, std::string& error);
bool fileExists(const std::string& path);
// Both paths name one existing file, whatever links or spellings lead there.
bool sameFile(const std::string& a, const std::string& b);

// Writes `data` into a new temporary file in the directory of `path` and
// renames it over `path`, so no reader ever sees a half-written program.
// The new file gets the permission bits of `modeFrom` (POSIX).
bool writeFileAtomically(const std::string& path, const Bytes& data, const std::string& modeFrom,
                         std::string& error);

// Directory of the running qlxwrap executable, with a trailing separator.
std::string executableDirectory();

}  // namespace qlx::wrap
