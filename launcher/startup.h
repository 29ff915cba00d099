// The start-up sequence (the launcher's main) and the platform steps it
// needs (startup_win.cpp / startup_posix.cpp).
#pragma once

#include <string>

#include "launcher/text.h"

namespace qlx {

int runLauncher(int argc, char** argv);

// Candidate working directory for `forcecwd` resolved against `base`.
std::string workingDirectoryCandidate(const std::string& base, const std::string& path,
                                      LeadByteTest isLead = isNarrowLeadByte);

// Single-instance mutex name: appid (or the application path) with ':' and
// '\' replaced by '.', plus ".qlx.mutex".
std::string singleInstanceMutexName(const std::string& appid, const std::string& applicationPath);

// --- platform steps ---
void setUserLocale();
void initCommonControls();
// GetFullPathNameA into 260 bytes: the result when its length is 1..259, else empty.
std::string fullPathName(const std::string& candidate);
bool setWorkingDirectory(const std::string& path);
// True when this process is the first instance (the mutex is kept owned for
// the life of the process); false when another instance holds it.
bool acquireSingleInstance(const std::string& mutexName);
// The raw command line (GetCommandLineA; the joined argv on Linux).
std::string rawCommandLine(int argc, char** argv);

}  // namespace qlx
