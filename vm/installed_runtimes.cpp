// Letter `v` of discovery: walks the Java homes that installers registered
// or laid out, in a fixed order, and keeps the newest that holds a VM
// library and satisfies `minjre`/`maxjre`. Equal versions: the first found
// wins (HKLM before HKCU, the 64-bit view before the 32-bit one, the table
// order of the registration roots, the registry's order of subkeys, then
// the directories of the platform in listing order). A home registered
// twice (HKCU's two views are one on Windows) is simply judged twice.
#include "vm/installed_runtimes.h"

#include "launcher/config.h"
#include "launcher/expand.h"
#include "launcher/text.h"
#include "launcher/trace.h"
#include "vm/discovery.h"
#include "vm/version.h"

namespace qlx {

namespace {

// In each hive and view. The JavaSoft and IBM keys hold one subkey
// per version with JavaHome (and RuntimeLib); the MSI installers built from
// the Adoptium installer write <category>\<version>\<vm>\MSI with Path
// (Eclipse Adoptium, its older AdoptOpenJDK and Eclipse Foundation names,
// Microsoft, IBM Semeru); Azul writes zulu-<n> with InstallationPath;
// Corretto and Liberica keep their installers' keys below their own names.
const char* const kRegistrationRoots[] = {
    "SOFTWARE\\JavaSoft\\JRE",
    "SOFTWARE\\JavaSoft\\JDK",
    "SOFTWARE\\JavaSoft\\Java Runtime Environment",
    "SOFTWARE\\JavaSoft\\Java Development Kit",
    "SOFTWARE\\IBM\\Java2 Runtime Environment",
    "SOFTWARE\\Eclipse Adoptium",
    "SOFTWARE\\Eclipse Foundation",
    "SOFTWARE\\AdoptOpenJDK",
    "SOFTWARE\\Microsoft\\JDK",
    "SOFTWARE\\Semeru",
    "SOFTWARE\\Azul Systems\\Zulu",
    "SOFTWARE\\Amazon\\Amazon Corretto",
    "SOFTWARE\\BellSoft\\Liberica",
};

// Values that name a home, in the order they are believed. The last,
// RuntimeLib, names the library itself (...\bin\server\jvm.dll): its home
// is three levels up.
const char* const kHomeValueNames[] = {"JavaHome", "Path", "InstallationPath", "INSTALLDIR",
                                       "RuntimeLib"};
constexpr int kRuntimeLibIndex = 4;

// <category>\<version>\<vm>\MSI is the deepest shape known.
constexpr int kMaxDepth = 4;

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;

struct Place {
  RegistryRoot root;
  RegistryView view;
  const char* name;
};
const Place kPlaces[] = {
    {RegistryRoot::LocalMachine, RegistryView::Bits64, "HKLM(64)\\"},
    {RegistryRoot::LocalMachine, RegistryView::Bits32, "HKLM(32)\\"},
    {RegistryRoot::CurrentUser, RegistryView::Bits64, "HKCU(64)\\"},
    {RegistryRoot::CurrentUser, RegistryView::Bits32, "HKCU(32)\\"},
};

// "zulu-17" -> "17", "21.0.1.12" -> itself, "JDK" -> "".
std::string versionPart(const std::string& name) {
  const size_t digit = name.find_first_of("0123456789");
  return digit == std::string::npos ? std::string() : name.substr(digit);
}

void dropLastComponent(std::string& path) {
  const size_t pos = path.find_last_of("\\/");
  if (pos != std::string::npos && pos != 0) path.resize(pos);
}

// One search: every home offered is judged at once, the best kept.
class Choice {
 public:
  Choice(LauncherContext& context, Os& os)
      : context_(context),
        os_(os),
        minimum_(parseVersion(minJreValue(context))),
        maximum_(parseVersion(maxJreValue(context))) {}

  void walkRegistry(const Place& place, const std::string& key, int depth,
                    const std::string& hint) {
    if (depth > 0 && readHome(place, key, hint)) return;
    StringList subkeys;
    if (!os_.listRegistryKeys(place.view, place.root, key, subkeys)) return;
    if (subkeys.empty() || depth == kMaxDepth) {
      if (depth > 0 && tracing())
        trace("discovery v ", place.name, key.c_str(), ": not configured");
      return;
    }
    for (const std::string& subkey : subkeys) {
      std::string path = key;
      path += '\\';
      path += subkey;
      walkRegistry(place, path, depth + 1, hint.empty() ? versionPart(subkey) : hint);
    }
  }

  // One home; `lead` indents it under the registration that named it.
  void offer(const char* lead, const std::string& home, const std::string& hint) {
    std::string version, library;
    const char* verdict = judge(home, hint, version, library);
    if (tracing()) {
      trace("discovery v ", lead, home.c_str(), verdict);
      if (!library.empty()) trace("discovery v   version ", version.c_str(), ", ", library.c_str());
    }
  }

  const std::string& chosen() const { return chosen_; }

 private:
  bool readHome(const Place& place, const std::string& key, const std::string& hint) {
    for (int i = 0; i <= kRuntimeLibIndex; ++i) {
      RegistryData data;
      if (!os_.readRegistryIn(place.view, place.root, key, kHomeValueNames[i], data)) continue;
      std::string home = data.bytes.substr(0, data.bytes.find('\0'));
      if (data.type == kRegExpandSz) home = expandValue(context_, os_, home, false);
      if (home.empty() || (data.type != kRegSz && data.type != kRegExpandSz)) {
        // A path stored as a number or as bytes is no path a loader can use.
        if (tracing()) {
          trace("discovery v ", place.name, key.c_str(), " ", kHomeValueNames[i],
                ": not readable (no text)");
        }
        continue;
      }
      if (i == kRuntimeLibIndex) {
        for (int cut = 0; cut < 3; ++cut) dropLastComponent(home);
      }
      if (tracing()) trace("discovery v ", place.name, key.c_str(), " ", kHomeValueNames[i]);
      offer("  ", home, hint);
      return true;
    }
    return false;
  }

  // The verdict on one home; a home within the limits may become the choice.
  const char* judge(const std::string& home, const std::string& hint, std::string& version,
                    std::string& library) {
    if (!os_.isReadable(home)) return ": not readable";
    library = searchHome(context_, os_, home);
    if (library.empty()) return ": no library in this home";
    version = releaseVersion(os_, home);
    if (version.empty()) version = hint;
    const std::vector<int> numbers = comparableVersion(version);
    if (versionTooLow(numbers, minimum_) || versionTooHigh(numbers, maximum_))
      return ": version outside the limits";
    if (!chosen_.empty() && !newerVersion(numbers, chosenVersion_))
      return ": within the limits, not newer than the one kept";
    chosen_ = library;
    chosenVersion_ = numbers;
    return ": within the limits, the newest so far";
  }

  LauncherContext& context_;
  Os& os_;
  const std::vector<int> minimum_, maximum_;
  std::string chosen_;
  std::vector<int> chosenVersion_;
};

}  // namespace

std::string releaseField(const std::string& text, const std::string& name) {
  const std::string key = name + "=\"";
  for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
    if (at != 0 && text[at - 1] != '\n') continue;
    const size_t begin = at + key.size();
    const size_t end = text.find('"', begin);
    return end == std::string::npos ? std::string() : text.substr(begin, end - begin);
  }
  return {};
}

std::string releaseVersion(Os& os, const std::string& home) {
  std::string text;
  if (!os.readFile(home + (endsWithSeparator(home) ? "release" : "/release"), text)) return {};
  return releaseField(text, "JAVA_VERSION");
}

std::vector<int> comparableVersion(const std::string& text) {
  std::vector<int> numbers = parseVersion(text);
  if (!numbers.empty() && numbers[0] >= 2 && numbers[0] <= 8) {
    // Shift right by one, keeping at most four numbers, and lead with 1.
    numbers.resize(numbers.size() < 4 ? numbers.size() + 1 : 4);
    for (size_t i = numbers.size() - 1; i > 0; --i) numbers[i] = numbers[i - 1];
    numbers[0] = 1;
  }
  return numbers;
}

bool newerVersion(const std::vector<int>& a, const std::vector<int>& b) {
  const size_t n = a.size() > b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const int x = i < a.size() ? a[i] : 0;
    const int y = i < b.size() ? b[i] : 0;
    if (x != y) return x > y;
  }
  return false;
}

std::string installedRuntime(LauncherContext& context, Os& os) {
  Choice choice(context, os);
  for (const Place& place : kPlaces) {
    for (const char* root : kRegistrationRoots)
      choice.walkRegistry(place, root, 0, std::string());
  }
  for (int i = 0; i < kRuntimeParentDirectoryCount; ++i) {
    const std::string parent = kRuntimeParentDirectories[i];
    std::vector<DirEntry> entries;
    if (!os.listDirectory(parent + "*", entries)) continue;
    for (const DirEntry& entry : entries) {
      if (!entry.isDirectory || entry.name == "." || entry.name == "..") continue;
      choice.offer("", parent + entry.name, versionPart(entry.name));
    }
  }
  if (tracing()) {
    trace("discovery v ", choice.chosen().empty() ? "found no usable installed runtime"
                                                  : "chosen ", choice.chosen().c_str());
  }
  return choice.chosen();
}

}  // namespace qlx
