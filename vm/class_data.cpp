// The class-data archive's decisions: whether a run may use one, which file
// is this run's, whether it is there and whole, and how a new one gets into
// place. Every doubt ends in adding nothing: a run without an archive is
// only slower, a run with a wrong one would run stale classes.
#include "vm/class_data.h"

#include <cstring>
#include <vector>

#include "launcher/config.h"
#include "launcher/digest.h"
#include "launcher/expand.h"
#include "launcher/mapped_file.h"
#include "launcher/trace.h"
#include "vm/installed_runtimes.h"
#include "vm/version.h"

namespace qlx {

namespace {

constexpr uint32_t kDynamicArchiveMagic = 0xf00baba8;
const char kClassPathOption[] = "-Djava.class.path=";

// What the finished dump of this run has to become, reached from the VM's
// exit hook, which carries no context.
struct PendingArchive {
  std::string folder;
  std::string tag;
  std::string name;     // the archive's name in the folder
  std::string archive;  // its full path
  std::string temporary;
  bool settled = false;
};
PendingArchive& pendingArchive() {
  static PendingArchive pending;
  return pending;
}

uint32_t littleEndian32(const uint8_t* bytes) {
  return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

bool startsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

std::string hexOf(const uint8_t* bytes, size_t count) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

std::string joinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || endsWithSeparator(folder, isNarrowLeadByte)) return folder + name;
  // The folder's own separator keeps a Windows path in one spelling.
  return folder + (folder.find('\\') != std::string::npos ? '\\' : '/') + name;
}

std::string payloadDigest(const LauncherContext& context) {
  MappedFile file{OwnExecutable{}};
  const int64_t at = context.payload.digestOffset;
  if (!file.valid() || at < 0 || static_cast<uint64_t>(at) + kDigestSize > file.size()) return {};
  return std::string(reinterpret_cast<const char*>(file.data() + at), kDigestSize);
}

std::string classPathOf(const VmHost& host) {
  for (const std::string& option : host.options()) {
    if (startsWith(option, kClassPathOption)) return option.substr(sizeof kClassPathOption - 1);
  }
  return {};
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

  for (const std::string& option : host.options()) {
    if (shapesArchive(option)) builder.add(option);
  }
  builder.add(os.getEnv("JAVA_TOOL_OPTIONS").value_or(std::string()));

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

// The folder of the archives, or empty with the reason.
std::string cacheFolder(const LauncherContext& context, Os& os, const ClassDataSetting& setting) {
  if (setting.mode == ClassDataMode::Folder) {
    return resolveAppPath(context, os, expandValue(context, os, setting.folder, false));
  }
  return defaultClassDataFolder(os);
}

bool archiveWhole(const std::string& path) {
  uint8_t head[kArchiveHeadSize];
  return archiveHeadValid(head, readHead(path, head, sizeof head));
}

// After a new archive is in place, the program's older ones and the
// leftovers of dumps whose process has ended go.
void removeStaleFiles(const PendingArchive& pending) {
  std::vector<DirEntry> entries;
  if (!systemOs().listDirectory(joinPath(pending.folder, pending.tag + "-*"), entries)) return;
  for (const DirEntry& entry : entries) {
    if (entry.isDirectory || entry.name == pending.name) continue;
    const uint32_t owner = temporaryOwner(entry.name, pending.tag);
    const bool oldArchive = entry.name.size() > 4 &&
                            entry.name.compare(entry.name.size() - 4, 4, ".jsa") == 0;
    if (oldArchive || (owner != 0 && owner != currentProcessId() && !processRunning(owner))) {
      removeFile(joinPath(pending.folder, entry.name));
    }
  }
}

// The VM has written the dump (the exit hook runs after it, DestroyJavaVM
// returns after it). The first archive in place wins; a damaged one is
// replaced; one that is whole may be in use by another run and stays.
void settleArchive(bool inExitHook) {
  PendingArchive& pending = pendingArchive();
  if (pending.temporary.empty() || pending.settled) return;
  pending.settled = true;
  const char* when = inExitHook ? " (exit hook)" : " (after DestroyJavaVM)";
  if (!archiveWhole(pending.temporary)) {
    removeFile(pending.temporary);
    if (tracing()) trace("classdata no archive written", when);
    return;
  }
  bool moved = moveFile(pending.temporary, pending.archive, false);
  if (!moved && !archiveWhole(pending.archive)) {
    moved = moveFile(pending.temporary, pending.archive, true);
  }
  if (!moved) {
    removeFile(pending.temporary);
    if (tracing()) trace("classdata move skipped: another run put its archive in place", when);
    return;
  }
  if (tracing()) trace("classdata moved into place ", pending.archive.c_str(), when);
  removeStaleFiles(pending);
}

std::string asciiLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

void addArchiveOptions(VmHost& host, const std::string& archiveOption) {
  // The VM prints its warnings (a changed class path file, say) on standard
  // output, into the program's own output. They stay, on standard error;
  // the application's -Xlog options come later and still win.
  host.prependOptions({"-Xlog:disable", "-Xlog:all=warning:stderr", archiveOption});
}

}  // namespace

ClassDataSetting parseClassDataSetting(const std::string& value) {
  ClassDataSetting setting;
  if (value.empty() || equalsIgnoreCase(value, "auto")) return setting;
  if (equalsIgnoreCase(value, "off") || equalsIgnoreCase(value, "false")) {
    setting.mode = ClassDataMode::Off;
    return setting;
  }
  setting.mode = ClassDataMode::Folder;
  setting.folder = value;
  return setting;
}

bool mentionsClassSharing(const std::string& text) {
  static const char* const kWords[] = {"sharedarchivefile", "archiveclassesatexit", "-xshare",
                                       "aotcache", "aotmode"};
  const std::string lower = asciiLower(text);
  for (const char* word : kWords) {
    if (lower.find(word) != std::string::npos) return true;
  }
  return false;
}

const char* runtimeRefusal(Os& os, const std::string& library, std::string& version) {
  // <home>/lib/server/libjvm.so, <home>\bin\server\jvm.dll
  const std::string runtimeDirectory = runtimeDirectoryOf(library);
  const size_t up = splitNarrowPath(runtimeDirectory, isNarrowLeadByte).lastSeparator;
  const std::string home = up == std::string::npos ? std::string() : runtimeDirectory.substr(0, up);
  std::string release;
  os.readFile(joinPath(home, "release"), release);
  version = releaseField(release, "JAVA_VERSION");
  if (version.empty()) return "no release file with a version in the runtime's home";
  const std::string variant = releaseField(release, "JVM_VARIANT");
  if (!variant.empty() && !equalsIgnoreCase(variant, "Hotspot")) return "not a HotSpot VM";
  const std::vector<int> numbers = parseVersion(version);
  if (numbers.empty() || numbers[0] < 13) return "runtime older than 13";
  // Without the base archive the VM shares nothing, and a dump would fail.
  const size_t cut = splitNarrowPath(library, isNarrowLeadByte).lastSeparator;
  const std::string base = (cut == std::string::npos ? std::string() : library.substr(0, cut + 1)) +
                           "classes.jsa";
  if (!os.exists(base)) return "no base archive beside the VM library";
  return nullptr;
}

bool archiveHeadValid(const uint8_t* head, size_t size) {
  if (size < kArchiveHeadSize) return false;
  return littleEndian32(head) == kDynamicArchiveMagic && littleEndian32(head + 8) != 0;
}

bool shapesArchive(const std::string& option) {
  if (!startsWith(option, "-D")) return true;
  return startsWith(option, "-Djava.") || startsWith(option, "-Djdk.");
}

KeyBuilder& KeyBuilder::add(const std::string& text) {
  // Each part with its length: no two lists of parts give the same bytes.
  const uint32_t length = static_cast<uint32_t>(text.size());
  bytes_.append(reinterpret_cast<const char*>(&length), sizeof length);
  bytes_ += text;
  return *this;
}

KeyBuilder& KeyBuilder::add(const FileStamp& stamp) {
  // The runtime's formatter would double the stub's size of this file.
  DecimalBuffer size, time;
  std::string text = stamp.exists ? (stamp.isDirectory ? "d:" : "f:") : "-:";
  text += decimal(stamp.size, size);
  text += stamp.mtime < 0 ? ":-" : ":";
  text += decimal(static_cast<uint64_t>(stamp.mtime < 0 ? -stamp.mtime : stamp.mtime), time);
  return add(text);
}

std::string KeyBuilder::hex() const {
  const Digest digest =
      hashBytes(reinterpret_cast<const uint8_t*>(bytes_.data()), bytes_.size());
  return hexOf(digest.data(), digest.size());
}

std::string programTag(const std::string& applicationPath) {
  const size_t cut = splitNarrowPath(applicationPath, isNarrowLeadByte).lastSeparator;
  std::string stem = cut == std::string::npos ? applicationPath : applicationPath.substr(cut + 1);
  const size_t dot = stem.rfind('.');
  if (dot != std::string::npos && dot > 0) stem.resize(dot);
  // A readable name where it is plain; the path's hash tells programs apart.
  for (char& c : stem) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '_';
    if (!plain) c = '_';
  }
  if (stem.size() > 32) stem.resize(32);
  const Digest digest = hashBytes(reinterpret_cast<const uint8_t*>(applicationPath.data()),
                                  applicationPath.size());
  return stem + "-" + hexOf(digest.data(), 4);
}

std::string archiveName(const std::string& tag, const std::string& key) {
  return tag + "-" + key + ".jsa";
}

std::string temporaryName(const std::string& archive, uint32_t processId) {
  DecimalBuffer number;
  return archive + "." + decimal(processId, number) + ".tmp";
}

uint32_t temporaryOwner(const std::string& name, const std::string& tag) {
  static const char kEnd[] = ".tmp";
  if (name.compare(0, tag.size() + 1, tag + "-") != 0 || name.size() < sizeof kEnd ||
      name.compare(name.size() - 4, 4, kEnd) != 0) {
    return 0;
  }
  const size_t end = name.size() - 4;
  const size_t dot = name.rfind('.', end - 1);
  if (dot == std::string::npos || dot + 1 == end || end - dot > 11) return 0;
  uint64_t pid = 0;
  for (size_t i = dot + 1; i < end; ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    pid = pid * 10 + static_cast<uint64_t>(name[i] - '0');
  }
  return pid <= 0xffffffffu ? static_cast<uint32_t>(pid) : 0;
}

void prepareClassData(const LauncherContext& context, VmHost& host, Os& os,
                      const std::string& library) {
  const ClassDataSetting setting =
      parseClassDataSetting(lookupValue(context, "classdata", false, true));
  const char* refusal = nullptr;
  std::string version, key, folder;
  if (setting.mode == ClassDataMode::Off) refusal = "turned off";
  // Without a payload there is no program whose classes could be kept.
  if (context.payloadStatus != PayloadStatus::Ok) refusal = "no payload";
  if (refusal == nullptr) {
    std::string own = os.getEnv("JAVA_TOOL_OPTIONS").value_or(std::string());
    // System properties are data, whatever words their values hold.
    for (const std::string& option : host.options()) {
      if (!startsWith(option, "-D")) own += "\n" + option;
    }
    if (mentionsClassSharing(own)) refusal = "the application's options manage class sharing";
  }
  if (refusal == nullptr) refusal = runtimeRefusal(os, library, version);
  if (refusal == nullptr) refusal = buildKey(context, host, os, library, version, key);
  if (refusal == nullptr) {
    folder = cacheFolder(context, os, setting);
    if (folder.empty()) refusal = "no cache folder for this user";
  }
  if (refusal != nullptr) {
    if (tracing()) trace("classdata off: ", refusal);
    return;
  }

  const std::string tag = programTag(context.applicationPath);
  const std::string name = archiveName(tag, key);
  const std::string archive = joinPath(folder, name);
  if (tracing()) trace("classdata key ", key.c_str(), ", runtime ", version.c_str());
  if (archiveWhole(archive)) {
    if (tracing()) trace("classdata hit ", archive.c_str());
    addArchiveOptions(host, "-XX:SharedArchiveFile=" + archive);
    return;
  }
  // A folder the VM cannot write into ends the run with an error when it
  // dumps: ask only where the file can be made.
  const std::string temporary = temporaryName(archive, currentProcessId());
  if (!makeFolders(folder) || !canCreateFile(temporary)) {
    if (tracing()) trace("classdata miss, no dump: cannot write in ", folder.c_str());
    return;
  }
  if (tracing()) trace("classdata miss, dump to ", temporary.c_str());
  PendingArchive& pending = pendingArchive();
  pending = PendingArchive{folder, tag, name, archive, temporary, false};
  addArchiveOptions(host, "-XX:ArchiveClassesAtExit=" + temporary);
  host.addVmEndAction(&settleArchive);
}

}  // namespace qlx
