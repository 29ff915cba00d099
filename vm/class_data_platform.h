// The class-data archive's work on each system.
//
// class_data_posix.cpp / class_data_win.cpp: the user's cache root, file
// stamps, private folders and files (owner and mode on Linux; owner and
// DACL through GetNamedSecurityInfoA on Windows), heads, moves, markers.
// class_data_assembly_posix.cpp / class_data_assembly_win.cpp: the cache's
// assembly as a detached process of low priority (posix_spawn with a new
// session; CreateProcessA, detached, with only its log handle inherited),
// and whether it still runs (its log stays locked while it does).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "launcher/os.h"
#include "launcher/text.h"
#include "vm/class_data_rules.h"

namespace qlx {

// The folder under which the launcher keeps its own cache (…\qlx and
// …/qlx go below it), empty when the user has none.
std::string defaultCacheRoot(Os& os);
// The separator of the system's paths.
extern const char kPathSeparator;
// The java launcher of a runtime home, relative to the home.
extern const char* const kJavaLauncher;

bool stampOf(const std::string& path, FileStamp& out);

// Creates what is missing of `folder` (which lies at or below `root`),
// private to the user, and checks every folder from `root` down: each
// must be owned by the user (on Windows also SYSTEM or Administrators)
// and writable by no one else. On Linux the folders above the root must
// be the user's or root's and, when others may write them, sticky (no one
// else can then rename what lies below). Null when all holds, else the
// reason, with `where` naming the folder that failed.
const char* securePrivateFolders(const std::string& root, const std::string& folder,
                                 std::string& where);
// A file in such a folder that the VM may map: a regular file (not a link)
// owned by the user that no one else can write (on Linux: with one name).
bool filePrivate(const std::string& path);
// Takes write and read rights of everyone else from a file the VM wrote
// in the folder (its mode came from the umask).
void makePrivate(const std::string& path);
// Creates `path` (which must not exist) empty and private; false when it
// cannot (it exists, or the folder cannot be written).
bool createMarker(const std::string& path);

// Up to `size` bytes from the start of a file; the count read, 0 on failure.
size_t readHead(const std::string& path, uint8_t* buffer, size_t size);
// Moves `from` to `to` when `to` does not exist (false when it does or the
// move fails); with replace, over an existing `to`.
bool moveFile(const std::string& from, const std::string& to, bool replace);
void removeFile(const std::string& path);
uint32_t currentProcessId();
bool processRunning(uint32_t processId);

// The cache's assembly: `arguments` (the java launcher first) run with
// their output in `log`, which is created new and stays locked while the
// process runs; detached from the console and the session, at low priority.
// `removeFromEnvironment` lists variables the process must not see. When
// the process cannot be started, the log says why and counts as a failed
// assembly.
bool startAssembly(const StringList& arguments, const std::string& log,
                   const StringList& removeFromEnvironment);
// True while the assembly that writes into `log` runs.
bool assemblyRunning(const std::string& log);

}  // namespace qlx
