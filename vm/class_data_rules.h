// The class-data archive's rules that need no file system: which options
// manage class sharing already, which runtimes take which kind of archive,
// how a finished archive starts, what goes into the key, and which of the
// run's options the cache's assembly gets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "launcher/os.h"
#include "launcher/text.h"

namespace qlx {

// The `classdata` key: "auto" (or no value), "off" (or "false"), or the
// folder that holds the archives.
enum class ClassDataMode { Auto, Off, Folder };
struct ClassDataSetting {
  ClassDataMode mode = ClassDataMode::Auto;
  std::string folder;  // as configured (Folder only)
};
ClassDataSetting parseClassDataSetting(const std::string& value);

// True when the text names an option that switches class sharing off or
// manages an archive or the ahead-of-time cache itself, in any spelling.
bool mentionsClassSharing(const std::string& text);

// Why the launcher must add nothing because the VM's options manage class
// sharing, or null. The options are the option lines (system properties
// are data and skipped), then JAVA_TOOL_OPTIONS and _JAVA_OPTIONS as the
// VM splits them; files named by -XX:Flags= and -XX:VMOptionsFile= are read
// through `os` and count as well (a file that cannot be read is a doubt,
// and a doubt adds nothing).
const char* sharingManagedBy(const std::vector<std::string>& options,
                             const std::string& toolOptions, const std::string& javaOptions,
                             Os& os);

// Which archive a runtime takes. The dynamic archive (13 and later) is
// written by the run itself when it ends; from 24 on the runtime also maps
// an ahead-of-time cache, which holds the classes loaded and linked and
// is assembled from a class list that the run writes as it goes.
enum class ArchiveKind { Dynamic, AotCache };
inline constexpr int kDynamicArchiveSince = 13;
inline constexpr int kAotCacheSince = 24;

// Why the runtime of a VM library cannot take an archive, or null when it
// can: a HotSpot home (its `release` file) of version 13 or later, with the
// base archive beside the library. `version` receives the release version.
const char* runtimeRefusal(Os& os, const std::string& library, std::string& version);

// The base archives a runtime may map beside its VM library (which one
// depends on the heap's options): a regenerated one invalidates every
// archive made on top of it.
extern const char* const kBaseArchiveNames[];
extern const size_t kBaseArchiveCount;

// The head of a finished archive. The VM writes the head last, so a dump
// that was cut short fails here.
inline constexpr size_t kArchiveHeadSize = 16;
bool archiveHeadValid(const uint8_t* head, size_t size);  // dynamic archive
bool cacheHeadValid(const uint8_t* head, size_t size);    // ahead-of-time cache

// Options that can change what an archive holds or whether the VM accepts
// it. System properties are left out (they vary per run for some programs)
// except the JDK's own (java.*, jdk.*), which include the class path.
bool shapesArchive(const std::string& option);

// Options of the run that the cache's assembly also gets: those that shape
// the archive, without the ones that act outside the VM (logs, agents,
// debuggers, recordings, error files): the assembly runs beside the
// program and must not take its ports or overwrite its files.
bool assemblyKeeps(const std::string& option);

// Options of an environment variable as the VM splits them (blanks
// separate, quotes group).
StringList splitEnvironmentOptions(const std::string& text);

// The -Xlog selection that keeps the VM's own warnings where they always
// are (standard output) but turns off the archive's own notes, so the
// program's streams are the same with and without an archive. From 25 on
// those notes also carry the `aot` tag; older runtimes refuse that tag.
std::vector<std::string> archiveLogOptions(int featureRelease);

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

}  // namespace qlx
