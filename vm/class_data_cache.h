// The cache folder of the class-data archives: the names of its files and
// what a start does with what it finds there. All files of one program
// (one file at one place) share the program's tag, and all files of one
// key share its base name `<tag>-<key>`.
#pragma once

#include <cstdint>
#include <string>

#include "vm/class_data_rules.h"

namespace qlx {

std::string programTag(const std::string& applicationPath);

enum class CacheFile {
  Archive,        // <base>.jsa: a dynamic archive in place
  Cache,          // <base>.aot: an ahead-of-time cache in place
  ClassList,      // <base>.classlist: the recorded class list a cache is assembled from
  Refusal,        // <base>.refused: a VM ended while it was created with the archive options
  ArchiveDump,    // <base>.jsa.<pid>.tmp: a run's dynamic archive until it is moved into place
  ClassListDump,  // <base>.classlist.<pid>.tmp: a run's class list until it is moved
  CacheDump,      // <base>.aot.<n>.tmp: the n-th try's output until a start takes it
  AssemblyLog,    // <base>.aot.<n>.log: that assembly's output; held open while it runs
  StartMarker,    // <base>.<pid>.start: a VM being created with the archive options
  Unknown,
};

// The name of a file of `base`; `number` is the process id or the
// assembly's number where the kind has one.
std::string cacheFileName(const std::string& base, CacheFile kind, uint32_t number = 0);

struct CacheEntry {
  CacheFile kind = CacheFile::Unknown;
  std::string key;
  uint32_t number = 0;
};
// What a name in the folder is, for a program of `tag`; Unknown for names
// of other programs and for names this launcher never makes.
CacheEntry parseCacheFileName(const std::string& name, const std::string& tag);

// What a start found for its key, once every file was checked.
struct KeyFacts {
  bool refused = false;        // a refusal note
  uint32_t deadStart = 0;      // a start marker of a process that has ended
  bool archiveUsable = false;  // a whole dynamic archive that only the user can change
  bool cacheUsable = false;    // the same for the cache
  uint32_t assembled = 0;      // an assembly's whole output, waiting to be taken (0: none)
  bool classList = false;      // a recorded class list that only the user can change
  bool assembling = false;     // an assembly still runs
  int failedAssemblies = 0;    // assemblies that ended without a whole cache
  uint32_t lastAssembly = 0;   // the highest number of an assembly's log: the next try's is one more
};

// After this many assemblies that left no cache, the program gets the
// dynamic archive instead.
inline constexpr int kAssemblyTries = 2;

enum class ClassDataStep {
  None,             // add nothing this time (the plan's reason says why)
  UseArchive,       // map the dynamic archive
  DumpArchive,      // write a dynamic archive when the run ends
  UseCache,         // map the cache
  TakeCache,        // put the assembly's output in place, then map it
  RecordClassList,  // write the class list; assemble the cache once the run ends
  AssembleCache,    // assemble the cache from the class list now, in the background
};
struct ClassDataPlan {
  ClassDataStep step = ClassDataStep::None;
  ArchiveKind kind = ArchiveKind::Dynamic;  // the kind the step is about
  const char* reason = nullptr;             // why: for the start-up trace
};
ClassDataPlan planClassData(ArchiveKind kind, const KeyFacts& facts);

// Whether a file may go once a run has put an archive of `kind` for `key`
// in place: files of other keys (older archives of the program) and this
// key's leftovers; never what a running process still writes (`live`).
bool removableAfterPlacing(const CacheEntry& entry, const std::string& key, ArchiveKind kind,
                           bool live);

}  // namespace qlx
