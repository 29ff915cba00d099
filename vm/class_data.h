// The class-data archive: from its second run on, a program maps the
// classes it loaded on an earlier run from an archive that HotSpot (13 and
// later) wrote when that run ended, and starts faster. The VM checks an
// archive only by the class path's text and each file's size and time, so
// the launcher chooses the archive by a key over everything that decides
// what the archive may hold, and puts a written archive in place itself,
// only once the VM has finished it.
//
// class_data.cpp holds the decisions; class_data_win.cpp and
// class_data_posix.cpp provide the file work: the user's cache folder, file
// stamps, folders, the write probe, moving a finished archive into place,
// and whether the process that owns a temporary file still runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "launcher/launcher_context.h"
#include "launcher/os.h"
#include "launcher/text.h"
#include "vm/vm_host.h"

namespace qlx {

// The `classdata` key: "auto" (or no value), "off" (or "false"), or the
// folder that holds the archives.
enum class ClassDataMode { Auto, Off, Folder };
struct ClassDataSetting {
  ClassDataMode mode = ClassDataMode::Auto;
  std::string folder;  // as configured (Folder only)
};
ClassDataSetting parseClassDataSetting(const std::string& value);

// True when options the application brings (its option lines, its
// JAVA_TOOL_OPTIONS) already manage class sharing themselves.
bool mentionsClassSharing(const std::string& text);

// Why the runtime of a VM library cannot take an archive, or null when it
// can: a HotSpot home (its `release` file) of version 13 or later, with the
// base archive beside the library. `version` receives the release version.
const char* runtimeRefusal(Os& os, const std::string& library, std::string& version);

// The head of a finished dynamic archive: its magic and a format version.
// The VM writes the head last, so a dump that was cut short fails here.
inline constexpr size_t kArchiveHeadSize = 16;
bool archiveHeadValid(const uint8_t* head, size_t size);

// Options that can change what an archive holds or whether the VM accepts
// it. System properties are left out (they vary per run for some programs)
// except the JDK's own (java.*, jdk.*), which include the class path.
bool shapesArchive(const std::string& option);

struct FileStamp {
  bool exists = false;
  bool isDirectory = false;
  uint64_t size = 0;
  int64_t mtime = 0;  // seconds
};

// 32 hexadecimal digits over everything that goes into the key, in order.
class KeyBuilder {
 public:
  KeyBuilder& add(const std::string& text);
  KeyBuilder& add(const FileStamp& stamp);
  std::string hex() const;

 private:
  std::string bytes_;
};

// Names in the cache folder. All archives of one program (one file at one
// place) share its tag, so a new archive can remove the older ones.
std::string programTag(const std::string& applicationPath);
std::string archiveName(const std::string& tag, const std::string& key);  // tag-key.jsa
std::string temporaryName(const std::string& archive, uint32_t processId);  // archive.pid.tmp
// The process id in a temporary name of `tag`, or 0 when the name is none.
uint32_t temporaryOwner(const std::string& name, const std::string& tag);

// The launch's step between discovery and creation: chooses the archive
// for this run and adds its options ahead of the application's own, or
// adds nothing. Registers the move of a new archive with the VM host.
void prepareClassData(const LauncherContext& context, VmHost& host, Os& os,
                      const std::string& library);

// Platform side ---------------------------------------------------------
// The user's cache of class-data archives (…\qlx\classdata), empty when the
// user has no folder for caches.
std::string defaultClassDataFolder(Os& os);
bool stampOf(const std::string& path, FileStamp& out);
// Creates the folder and its missing parents; true when it exists after.
bool makeFolders(const std::string& path);
// Creates `path` (which must not exist) and removes it again.
bool canCreateFile(const std::string& path);
// Up to `size` bytes from the start of a file; the count read, 0 on failure.
size_t readHead(const std::string& path, uint8_t* buffer, size_t size);
// Moves `from` to `to` when `to` does not exist (false when it does or the
// move fails); with replace, over an existing `to`.
bool moveFile(const std::string& from, const std::string& to, bool replace);
void removeFile(const std::string& path);
uint32_t currentProcessId();
bool processRunning(uint32_t processId);

}  // namespace qlx
