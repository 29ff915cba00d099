// Opening the files that standard output and standard error go to, so that
// a log in a folder other users can write cannot be turned against the
// program: a missing folder is created; a final symbolic link (Linux) or
// reparse point (Windows) is never followed for a rotated log, whose name
// is renamed and created again, and for a plain log only when the user (or
// the administrator) made it; a file that belongs to another user is
// refused. log_open_win.cpp / log_open_posix.cpp.
#pragma once

#include <cstdint>
#include <string>

namespace qlx {

enum class FinalLink { FollowOwn, Refuse };

struct OpenedLog {
  intptr_t handle = -1;  // a descriptor (above 2) or a HANDLE; -1 when not opened
  std::string problem;   // why not, as a clause: "Permission denied"
};

// Opened for appending: every write lands at the end the file has then.
OpenedLog openLogForAppend(const std::string& path, FinalLink link);

// The system's text for an error number (errno, GetLastError), without a
// final full stop.
std::string systemErrorText(unsigned long error);

}  // namespace qlx
