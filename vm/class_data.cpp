// The class-data archive's start and end: whether this run may use one,
// which files are this run's, what the folder holds for them, and how a
// new archive, class list or cache gets into place. Every doubt ends in
// adding nothing: a run without an archive is only slower, a run with a
// wrong one would run stale or foreign classes.
#include "vm/class_data.h"

#include <cstring>
#include <vector>

#include "launcher/config.h"
#include "launcher/digest.h"
#include "launcher/expand.h"
#include "launcher/own_file.h"
#include "launcher/trace.h"
#include "vm/class_data_platform.h"
#include "vm/runtime_options.h"

namespace qlx {

namespace {

// A pointer to the literal, which the stub keeps once for all its users.
constexpr const char* kClassPathOption = "-Djava.class.path=";
// Read by the VM itself, or by the java launcher that assembles the cache:
// the assembly gets their options on its command line, filtered, instead.
// One block of names, each ended by a zero, the block by an empty name.
const char kAssemblyHiddenVariables[] =
    "JAVA_TOOL_OPTIONS\0_JAVA_OPTIONS\0JDK_JAVA_OPTIONS\0CLASSPATH\0";

// This run's archive work. The VM's exit and abort hooks carry no context,
// so it is kept here, for the one VM of the process.
struct ClassDataRun {
  std::string folder;
  std::string tag;
  std::string key;
  std::string base;  // folder + separator + tag-key
  ClassDataStep step = ClassDataStep::None;
  std::string written;  // what the VM writes: a dynamic archive or a class list
  std::string target;   // where it goes once it is finished
  std::string marker;   // the start marker while the VM is created
  std::string refusal;  // the note that stops later starts of this key
  bool clearRefusalOnFailure = false;
  bool settled = false;
  StringList assembly;  // the java launcher and its arguments
  uint32_t assemblyNumber = 0;  // the try it is: its log's and output's number
};
ClassDataRun gRun;
ClassDataRun& classDataRun() { return gRun; }  // the one run of the process

bool startsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

std::string joinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || endsWithSeparator(folder, isNarrowLeadByte)) return folder + name;
  return folder + kPathSeparator + name;
}

std::string fileOf(const ClassDataRun& run, CacheFile kind, uint32_t number = 0) {
  return cacheFileName(run.base, kind, number);
}

std::string payloadDigest(const LauncherContext& context) {
  const OwnFile file;
  const int64_t at = context.payload.digestOffset;
  uint8_t digest[kDigestSize];
  if (!file.valid() || at < 0 || !file.readAt(static_cast<uint64_t>(at), digest, sizeof digest)) {
    return {};
  }
  return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

std::string classPathOf(const VmHost& host) {
  for (const std::string& option : host.options()) {
    if (startsWith(option, kClassPathOption))
      return option.substr(std::strlen(kClassPathOption));
  }
  return {};
}

std::string environmentText(Os& os, const char* name) {
  return os.getEnv(name).value_or(std::string());
}

// The key, or null with the reason there can be none.
const char* buildKey(const LauncherContext& context, const VmHost& host, Os& os,
                     const std::string& library, const std::string& version, std::string& key) {
  KeyBuilder builder;
  const std::string digest = payloadDigest(context);
  FileStamp stamp;
  if (digest.empty() || !stampOf(context.applicationPath, stamp)) return "program file unreadable";
  builder.add(digest).add(stamp);

  FileStamp libraryStamp;
  if (!stampOf(library, libraryStamp)) return "VM library unreadable";
  builder.add(library).add(libraryStamp).add(version);
  // An archive holds only what its base archive does not: a regenerated
  // base (java -Xshare:dump) makes every archive on top of it useless.
  const size_t cut = splitNarrowPath(library, isNarrowLeadByte).lastSeparator;
  const std::string libraryFolder =
      cut == std::string::npos ? std::string() : library.substr(0, cut + 1);
  for (size_t i = 0; i < kBaseArchiveCount; ++i) {
    FileStamp base;
    stampOf(libraryFolder + kBaseArchiveNames[i], base);
    builder.add(base);
  }

  for (const std::string& option : host.options()) {
    if (shapesArchive(option)) builder.add(option);
  }
  builder.add(environmentText(os, "JAVA_TOOL_OPTIONS")).add(environmentText(os, "_JAVA_OPTIONS"));

  // The VM records every class path entry; it cannot archive out of a
  // folder and refuses to dump (ending the run with an error) when one
  // holds files.
  const std::string classPath = classPathOf(host);
  size_t from = 0;
  while (from <= classPath.size()) {
    size_t to = classPath.find(kPathListSeparator, from);
    if (to == std::string::npos) to = classPath.size();
    const std::string entry = classPath.substr(from, to - from);
    from = to + 1;
    if (entry.empty() || entry == context.applicationPath) continue;
    FileStamp entryStamp;
    stampOf(entry, entryStamp);
    if (entryStamp.isDirectory) return "the class path names a folder";
    builder.add(entryStamp);
  }
  key = builder.hex();
  return nullptr;
}

// The root of the checks and the folder of the archives, or empty.
void cacheFolders(const LauncherContext& context, Os& os, const ClassDataSetting& setting,
                  std::string& root, std::string& folder) {
  if (setting.mode == ClassDataMode::Folder) {
    root = folder = resolveAppPath(context, os, expandValue(context, os, setting.folder, false));
    return;
  }
  const std::string cache = defaultCacheRoot(os);
  if (cache.empty()) return;
  root = joinPath(cache, "qlx");
  folder = joinPath(root, "classdata");
}

bool headWhole(const std::string& path, bool (*valid)(const uint8_t*, size_t)) {
  uint8_t head[kArchiveHeadSize];
  return valid(head, readHead(path, head, sizeof head));
}

// Whole, and no one else can have changed it.
bool usable(const std::string& path, bool (*valid)(const uint8_t*, size_t)) {
  return filePrivate(path) && headWhole(path, valid);
}

// Whether a running process still writes the entry (`base` is its key's).
bool entryLive(const CacheEntry& entry, const std::string& base) {
  switch (entry.kind) {
    case CacheFile::ArchiveDump:
    case CacheFile::ClassListDump:
    case CacheFile::StartMarker:
      return entry.number != currentProcessId() && processRunning(entry.number);
    case CacheFile::CacheDump:
    case CacheFile::AssemblyLog:
      return assemblyRunning(cacheFileName(base, CacheFile::AssemblyLog, entry.number));
    default:
      return false;
  }
}

// After an archive, cache or class list went into place: the program's
// older files and the leftovers of ended runs go.
void removeStaleFiles(const ClassDataRun& run, ArchiveKind placed) {
  std::vector<DirEntry> entries;
  if (!systemOs().listDirectory(joinPath(run.folder, run.tag + "-*"), entries)) return;
  for (const DirEntry& found : entries) {
    if (found.isDirectory) continue;
    const CacheEntry entry = parseCacheFileName(found.name, run.tag);
    const std::string base = joinPath(run.folder, run.tag + "-" + entry.key);
    if (removableAfterPlacing(entry, run.key, placed, entryLive(entry, base))) {
      removeFile(joinPath(run.folder, found.name));
    }
  }
}

KeyFacts gatherFacts(const ClassDataRun& run) {
  KeyFacts facts;
  std::vector<DirEntry> entries;
  systemOs().listDirectory(run.base + "*", entries);
  for (const DirEntry& found : entries) {
    const CacheEntry entry = parseCacheFileName(found.name, run.tag);
    if (found.isDirectory || entry.key != run.key) continue;
    const std::string path = joinPath(run.folder, found.name);
    switch (entry.kind) {
      case CacheFile::Refusal:
        facts.refused = true;
        break;
      case CacheFile::StartMarker:
        if (!entryLive(entry, run.base)) facts.deadStart = entry.number;
        break;
      case CacheFile::Archive:
        facts.archiveUsable = usable(path, archiveHeadValid);
        break;
      case CacheFile::Cache:
        facts.cacheUsable = usable(path, cacheHeadValid);
        break;
      case CacheFile::ClassList:
        facts.classList = filePrivate(path);
        break;
      case CacheFile::AssemblyLog:
        if (entry.number > facts.lastAssembly) facts.lastAssembly = entry.number;
        if (assemblyRunning(path)) {
          facts.assembling = true;
        } else if (headWhole(fileOf(run, CacheFile::CacheDump, entry.number), cacheHeadValid)) {
          facts.assembled = entry.number;
        } else {
          ++facts.failedAssemblies;
        }
        break;
      default:
        break;
    }
  }
  return facts;
}

void keepForAssembly(StringList& command, const StringList& options) {
  for (const std::string& option : options) {
    if (assemblyKeeps(option)) command.push_back(option);
  }
}

// The assembly's command: the runtime's java writes a static archive with
// the classes of the class list loaded and linked ahead of time, with the
// run's own class path and the options that shape it.
StringList assemblyCommand(const std::string& java, const VmHost& host, Os& os,
                           const std::string& classList, const std::string& output) {
  // One element at a time: a braced list would build each string twice.
  StringList command;
  command.push_back(java);
  command.emplace_back("-Xshare:dump");
  command.emplace_back("-XX:SharedClassListFile=").append(classList);
  command.emplace_back("-XX:SharedArchiveFile=").append(output);
  command.emplace_back("-XX:+AOTClassLinking");
  // The VM takes JAVA_TOOL_OPTIONS first and _JAVA_OPTIONS last.
  keepForAssembly(command, splitEnvironmentOptions(environmentText(os, "JAVA_TOOL_OPTIONS")));
  keepForAssembly(command, host.options());
  keepForAssembly(command, splitEnvironmentOptions(environmentText(os, "_JAVA_OPTIONS")));
  command.push_back("-cp");
  command.push_back(classPathOf(host));
  return command;
}

bool beginAssembly(ClassDataRun& run) {
  // The log is created new: of two runs that would start the same try at
  // once, one creates it and the other leaves the assembly to it.
  const std::string log = fileOf(run, CacheFile::AssemblyLog, run.assemblyNumber);
  StringList hidden;
  for (const char* name = kAssemblyHiddenVariables; *name != '\0'; name += std::strlen(name) + 1)
    hidden.emplace_back(name);
  const bool started = startAssembly(run.assembly, log, hidden);
  if (tracing())
    trace("classdata cache assembly ",
          started ? "started, log " : "cannot start (or another run has this try), log ",
          log.c_str());
  return started;
}

// The VM has finished what it wrote (the exit hook runs after it,
// DestroyJavaVM returns after it): it goes into place, and a class list
// then goes to the cache's assembly. Of two runs that finish at once the
// first one's file stays.
void settleWritten(bool inExitHook) {
  ClassDataRun& run = classDataRun();
  if (run.written.empty() || run.settled) return;
  run.settled = true;
  const char* when = inExitHook ? " (exit hook)" : " (after DestroyJavaVM)";
  const bool archive = run.step == ClassDataStep::DumpArchive;
  FileStamp written;
  const bool finished = archive ? headWhole(run.written, archiveHeadValid)
                                : stampOf(run.written, written) && written.size > 0;
  makePrivate(run.written);
  if (!finished || !filePrivate(run.written)) {
    removeFile(run.written);
    if (tracing()) {
      trace(archive ? "classdata no archive written" : "classdata no class list written", when);
    }
    return;
  }
  bool moved = moveFile(run.written, run.target, false);
  // A damaged file in place, or one that is not the user's alone, is
  // replaced; a whole one may be in use by another run and stays.
  if (!moved && !(archive ? usable(run.target, archiveHeadValid) : filePrivate(run.target))) {
    moved = moveFile(run.written, run.target, true);
  }
  if (!moved) {
    removeFile(run.written);
    if (tracing()) trace("classdata move skipped: another run put its file in place", when);
    return;
  }
  if (tracing()) trace("classdata moved into place ", run.target.c_str(), when);
  removeStaleFiles(run, ArchiveKind::Dynamic);
  if (!archive) beginAssembly(run);
}

// A VM that ends the process while it is being created (an option it
// cannot live with) calls the abort hook: later starts of this key then
// add nothing. One created without the options that fails as well shows
// the failure was not theirs.
void creationEnded(bool created) {
  ClassDataRun& run = classDataRun();
  if (!run.marker.empty()) {
    if (!created) {
      createMarker(run.refusal);
      if (tracing())
        trace("classdata VM creation failed with the archive options; noted in ",
              run.refusal.c_str());
    }
    removeFile(run.marker);
    run.marker.clear();
  } else if (run.clearRefusalOnFailure && !created) {
    removeFile(run.refusal);
  }
  run.clearRefusalOnFailure = false;
}

void abortDuringCreation() { creationEnded(false); }

// The options go ahead of the application's own, so that its -Xlog
// options still decide; a marker shows a later start whether this VM's
// creation completed.
bool addOptions(ClassDataRun& run, VmHost& host, int feature, const std::string& archiveOption) {
  run.marker = fileOf(run, CacheFile::StartMarker, currentProcessId());
  if (!createMarker(run.marker)) {
    if (tracing()) trace("classdata off: cannot write in ", run.folder.c_str());
    run.marker.clear();
    return false;
  }
  std::vector<std::string> options = archiveLogOptions(feature);
  options.push_back(archiveOption);
  host.prependOptions(options);
  host.addAbortAction(&abortDuringCreation);
  return true;
}

bool takeAssembledCache(ClassDataRun& run, uint32_t number) {
  const std::string output = fileOf(run, CacheFile::CacheDump, number);
  const std::string cache = fileOf(run, CacheFile::Cache);
  makePrivate(output);
  if (!filePrivate(output) || !headWhole(output, cacheHeadValid)) return false;
  bool moved = moveFile(output, cache, false);
  if (!moved && !usable(cache, cacheHeadValid)) moved = moveFile(output, cache, true);
  if (!moved && !usable(cache, cacheHeadValid)) return false;
  if (tracing()) trace("classdata cache taken from ", output.c_str());
  removeStaleFiles(run, ArchiveKind::AotCache);
  return true;
}

// What a step that adds options maps or writes, and says in the trace.
struct StepOptions {
  ClassDataStep step;
  CacheFile file;    // the file the option names
  CacheFile target;  // where a written file goes once finished (its own kind: nothing written)
  const char* option;
  const char* said;
};
const StepOptions kStepOptions[] = {
    {ClassDataStep::UseCache, CacheFile::Cache, CacheFile::Cache,
     "-XX:AOTCache=", "classdata cache hit "},
    {ClassDataStep::UseArchive, CacheFile::Archive, CacheFile::Archive,
     "-XX:SharedArchiveFile=", "classdata hit "},
    {ClassDataStep::DumpArchive, CacheFile::ArchiveDump, CacheFile::Archive,
     "-XX:ArchiveClassesAtExit=", "classdata miss, dump to "},
    {ClassDataStep::RecordClassList, CacheFile::ClassListDump, CacheFile::ClassList,
     "-XX:DumpLoadedClassList=", "classdata cache miss, class list to "},
};

void runPlan(ClassDataRun& run, const ClassDataPlan& plan, const KeyFacts& facts, VmHost& host,
             int feature) {
  if (plan.reason != nullptr && tracing()) trace("classdata ", plan.reason);
  ClassDataStep step = plan.step;
  if (step == ClassDataStep::None) {
    if (facts.refused) {
      // Cleared again if this start fails without the options too.
      run.clearRefusalOnFailure = true;
      host.addAbortAction(&abortDuringCreation);
      if (tracing()) trace("classdata delete ", run.refusal.c_str(), " to try again");
    } else if (facts.deadStart != 0) {
      // Said once: the start after this one tries again.
      removeFile(fileOf(run, CacheFile::StartMarker, facts.deadStart));
    }
    return;
  }
  if (step == ClassDataStep::AssembleCache) {
    beginAssembly(run);
    return;
  }
  if (step == ClassDataStep::TakeCache) {
    if (!takeAssembledCache(run, facts.assembled)) return;
    step = ClassDataStep::UseCache;
  }
  for (const StepOptions& what : kStepOptions) {
    if (what.step != step) continue;
    const std::string file = fileOf(run, what.file, currentProcessId());
    if (!addOptions(run, host, feature, what.option + file)) return;
    if (tracing()) trace(what.said, file.c_str());
    if (what.target != what.file) {
      run.written = file;
      run.target = fileOf(run, what.target);
      host.addVmEndAction(&settleWritten);
    }
  }
}

// <home>/lib/server/libjvm.so, <home>\bin\server\jvm.dll
std::string runtimeHomeOf(const std::string& library) {
  const std::string directory = runtimeDirectoryOf(library);
  const size_t cut = splitNarrowPath(directory, isNarrowLeadByte).lastSeparator;
  return cut == std::string::npos ? std::string() : directory.substr(0, cut);
}

// This run's files and plan, once nothing refuses the archive. A step of
// its own: its locals and those of the checks before it do not share one
// frame.
[[gnu::noinline]] void planRun(const LauncherContext& context, VmHost& host, Os& os,
                               const std::string& library, const std::string& version,
                               const std::string& key, const std::string& folder) {
  const int feature = featureRelease(version);
  ArchiveKind kind = feature >= kAotCacheSince ? ArchiveKind::AotCache : ArchiveKind::Dynamic;
  const std::string java = joinPath(runtimeHomeOf(library), kJavaLauncher);
  if (kind == ArchiveKind::AotCache && !os.exists(java)) {
    kind = ArchiveKind::Dynamic;
    if (tracing())
      trace("classdata no java launcher beside the VM (", java.c_str(), "): dynamic archive");
  }

  // Field by field rather than from a fresh ClassDataRun, which would need
  // a second one of its size in this frame.
  ClassDataRun& run = classDataRun();
  run.written.clear();
  run.target.clear();
  run.marker.clear();
  run.clearRefusalOnFailure = run.settled = false;
  run.assembly.clear();
  run.folder = folder;
  run.tag = programTag(context.applicationPath);
  run.key = key;
  run.base = joinPath(folder, run.tag);
  run.base.append("-").append(key);
  run.refusal = fileOf(run, CacheFile::Refusal);
  if (tracing()) {
    trace("classdata key ", key.c_str(), ", runtime ", version.c_str(),
          kind == ArchiveKind::AotCache ? ", ahead-of-time cache" : ", dynamic archive");
  }
  const KeyFacts facts = gatherFacts(run);
  const ClassDataPlan plan = planClassData(kind, facts);
  run.step = plan.step;
  if (plan.step == ClassDataStep::RecordClassList || plan.step == ClassDataStep::AssembleCache) {
    run.assemblyNumber = facts.lastAssembly + 1;
    run.assembly = assemblyCommand(java, host, os, fileOf(run, CacheFile::ClassList),
                                   fileOf(run, CacheFile::CacheDump, run.assemblyNumber));
  }
  runPlan(run, plan, facts, host, feature);
}

}  // namespace

void prepareClassData(const LauncherContext& context, VmHost& host, Os& os,
                      const std::string& library) {
  const ClassDataSetting setting =
      parseClassDataSetting(lookupValue(context, "classdata", false, true));
  const char* refusal = nullptr;
  std::string version, key, root, folder, where;
  if (setting.mode == ClassDataMode::Off) refusal = "turned off";
  // Without a payload there is no program whose classes could be kept.
  if (refusal == nullptr && context.payloadStatus != PayloadStatus::Ok) refusal = "no payload";
  if (refusal == nullptr) {
    refusal = sharingManagedBy(host.options(), environmentText(os, "JAVA_TOOL_OPTIONS"),
                               environmentText(os, "_JAVA_OPTIONS"), os);
  }
  if (refusal == nullptr) refusal = runtimeRefusal(os, library, version);
  if (refusal == nullptr) refusal = buildKey(context, host, os, library, version, key);
  if (refusal == nullptr) {
    cacheFolders(context, os, setting, root, folder);
    if (folder.empty()) refusal = "no cache folder for this user";
  }
  if (refusal == nullptr) refusal = securePrivateFolders(root, folder, where);
  if (refusal != nullptr) {
    if (tracing()) trace("classdata off: ", refusal, where.empty() ? "" : ": ", where.c_str());
    return;
  }

  planRun(context, host, os, library, version, key, folder);
}

void classDataVmCreated(int result) {
  // A library that cannot be loaded says nothing about the options.
  creationEnded(result != 4);
}

}  // namespace qlx
