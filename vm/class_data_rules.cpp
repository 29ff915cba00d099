// The class-data archive's rules that need no file system; see
// class_data_rules.h.
#include "vm/class_data_rules.h"

#include <cstring>

#include "launcher/digest.h"
#include "launcher/trace.h"
#include "vm/installed_runtimes.h"
#include "vm/version.h"
#include "vm/vm_host.h"

namespace qlx {

namespace {

constexpr uint32_t kDynamicArchiveMagic = 0xf00baba8;
// The ahead-of-time cache is a static archive that holds the JDK's
// classes as well as the program's.
constexpr uint32_t kStaticArchiveMagic = 0xf00baba2;
// An options file may name another; a chain longer than this is a doubt.
constexpr int kOptionsFileDepth = 3;

uint32_t littleEndian32(const uint8_t* bytes) {
  return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

bool startsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

std::string asciiLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool startsWithLower(const std::string& text, const char* prefix) {
  return startsWith(asciiLower(text.substr(0, std::strlen(prefix))), prefix);
}

// The file an option asks the VM to read more options from, or empty.
std::string optionsFileOf(const std::string& option) {
  static const char* const kPrefixes[] = {"-xx:flags=", "-xx:vmoptionsfile="};
  for (const char* prefix : kPrefixes) {
    if (startsWithLower(option, prefix)) return option.substr(std::strlen(prefix));
  }
  return {};
}

const char* scanOptions(const StringList& options, Os& os, int depth);

// A -XX:Flags file holds one flag per line without the -XX: ("+UseX",
// "Name=value"); a -XX:VMOptionsFile holds options as a command line does.
// Both are searched for the same words, and what they name in turn.
const char* scanOptionsFile(const std::string& path, Os& os, int depth) {
  if (depth >= kOptionsFileDepth) return "options files name each other too deeply";
  std::string text;
  if (!os.readFile(path, text)) return "an options file the VM reads cannot be read here";
  if (mentionsClassSharing(text)) return "an options file the VM reads manages class sharing";
  return scanOptions(splitEnvironmentOptions(text), os, depth + 1);
}

const char* scanOptions(const StringList& options, Os& os, int depth) {
  for (const std::string& option : options) {
    const std::string file = optionsFileOf(option);
    if (file.empty()) continue;
    if (const char* reason = scanOptionsFile(file, os, depth)) return reason;
  }
  return nullptr;
}

std::string parentOf(const std::string& path) {
  const size_t cut = splitNarrowPath(path, isNarrowLeadByte).lastSeparator;
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
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
  // -Xshare:*, the switch of sharing itself, the archives' own options
  // (base, dynamic, automatic, class lists, jcmd's dump) and the AOT
  // cache's (AOTCache, AOTCacheOutput, AOTMode, AOTConfiguration, ...).
  // One block of words, each ended by a zero, the block by an empty word:
  // a table of pointers would cost a pointer and a relocation per word.
  static const char kWords[] =
      "-xshare\0usesharedspaces\0requiresharedspaces\0sharedarchivefile\0"
      "archiveclassesatexit\0autocreatesharedarchive\0sharedclasslistfile\0"
      "dumploadedclasslist\0dynamicdumpsharedspaces\0recorddynamicdumpinfo\0"
      "aotcache\0aotmode\0aotconfiguration\0aotclasslinking\0";
  const std::string lower = asciiLower(text);
  for (const char* word = kWords; *word != '\0'; word += std::strlen(word) + 1) {
    if (lower.find(word) != std::string::npos) return true;
  }
  return false;
}

const char* sharingManagedBy(const std::vector<std::string>& options,
                             const std::string& toolOptions, const std::string& javaOptions,
                             Os& os) {
  StringList all;
  for (const std::string& option : options) {
    if (startsWith(option, "-D")) continue;  // a property's value is data
    if (mentionsClassSharing(option)) return "the application's options manage class sharing";
    all.push_back(option);
  }
  for (const std::string* text : {&toolOptions, &javaOptions}) {
    for (const std::string& option : splitEnvironmentOptions(*text)) {
      if (startsWith(option, "-D")) continue;
      if (mentionsClassSharing(option)) {
        return "the VM's options in the environment manage class sharing";
      }
      all.push_back(option);
    }
  }
  return scanOptions(all, os, 0);
}

const char* const kBaseArchiveNames[] = {"classes.jsa", "classes_nocoops.jsa", "classes_coh.jsa",
                                         "classes_nocoops_coh.jsa"};
const size_t kBaseArchiveCount = sizeof kBaseArchiveNames / sizeof kBaseArchiveNames[0];

const char* runtimeRefusal(Os& os, const std::string& library, std::string& version) {
  // <home>/lib/server/libjvm.so, <home>\bin\server\jvm.dll
  const std::string home = parentOf(runtimeDirectoryOf(library));
  std::string release;
  os.readFile(home + (home.find('\\') != std::string::npos ? "\\" : "/") + "release", release);
  version = releaseField(release, "JAVA_VERSION");
  if (version.empty()) return "no release file with a version in the runtime's home";
  const std::string variant = releaseField(release, "JVM_VARIANT");
  if (!variant.empty() && !equalsIgnoreCase(variant, "Hotspot")) return "not a HotSpot VM";
  const std::vector<int> numbers = parseVersion(version);
  if (numbers.empty() || numbers[0] < kDynamicArchiveSince) return "runtime older than 13";
  // Without the base archive the VM shares nothing, and a dump would fail.
  const size_t cut = splitNarrowPath(library, isNarrowLeadByte).lastSeparator;
  const std::string base = (cut == std::string::npos ? std::string() : library.substr(0, cut + 1)) +
                           kBaseArchiveNames[0];
  if (!os.exists(base)) return "no base archive beside the VM library";
  return nullptr;
}

bool archiveHeadValid(const uint8_t* head, size_t size) {
  if (size < kArchiveHeadSize) return false;
  return littleEndian32(head) == kDynamicArchiveMagic && littleEndian32(head + 8) != 0;
}

bool cacheHeadValid(const uint8_t* head, size_t size) {
  if (size < kArchiveHeadSize) return false;
  return littleEndian32(head) == kStaticArchiveMagic && littleEndian32(head + 8) != 0;
}

bool shapesArchive(const std::string& option) {
  if (!startsWith(option, "-D")) return true;
  return startsWith(option, "-Djava.") || startsWith(option, "-Djdk.");
}

bool assemblyKeeps(const std::string& option) {
  if (!shapesArchive(option)) return false;
  // The class path goes as -cp; the rest acts outside the VM's classes.
  // One block of prefixes, as the words of mentionsClassSharing.
  static const char kOutside[] =
      "-djava.class.path=\0-xlog\0-xloggc\0-verbose\0-agentlib\0-agentpath\0-javaagent\0"
      "-xrun\0-xdebug\0-xx:+logvmoutput\0-xx:logfile\0-xx:startflightrecording\0"
      "-xx:flightrecorder\0-xx:+heapdump\0-xx:heapdumppath\0-xx:errorfile\0-xx:onerror\0"
      "-xx:onoutofmemoryerror\0";
  const std::string lower = asciiLower(option);
  for (const char* prefix = kOutside; *prefix != '\0'; prefix += std::strlen(prefix) + 1) {
    if (startsWith(lower, prefix)) return false;
  }
  return true;
}

StringList splitEnvironmentOptions(const std::string& text) {
  StringList options;
  std::string current;
  bool any = false;
  char quote = 0;
  for (const char c : text) {
    if (quote != 0) {
      if (c == quote) {
        quote = 0;
      } else {
        current += c;
      }
    } else if (c == '"' || c == '\'') {
      quote = c;
      any = true;
    } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (any) options.push_back(current);
      current.clear();
      any = false;
    } else {
      current += c;
      any = true;
    }
  }
  if (any) options.push_back(current);
  return options;
}

std::vector<std::string> archiveLogOptions(int featureRelease) {
  // HotSpot prints its warnings on standard output by default. They stay
  // there; the archive's own notes (a class it cannot archive, a class
  // path file that changed, a cache it cannot map) go nowhere. The
  // application's own -Xlog options come later and still decide.
  return {"-Xlog:disable", featureRelease >= 25 ? "-Xlog:all=warning,cds*=off,aot*=off:stdout"
                                                : "-Xlog:all=warning,cds*=off:stdout"};
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
  constexpr const char* kDigits = "0123456789abcdef";  // the one shared literal
  const Digest digest = hashBytes(reinterpret_cast<const uint8_t*>(bytes_.data()), bytes_.size());
  std::string out;
  for (const uint8_t byte : digest) {
    out += kDigits[byte >> 4];
    out += kDigits[byte & 15];
  }
  return out;
}

}  // namespace qlx
