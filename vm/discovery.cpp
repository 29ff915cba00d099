// Java runtime discovery: tries the sources named by `jre_order` in turn and
// keeps the first VM library found for the rest of the process. With the
// start-up trace on, every place looked at is reported with its verdict.
#include "vm/discovery.h"

#include <cctype>

#include "launcher/config.h"
#include "launcher/expand.h"
#include "launcher/text.h"
#include "launcher/trace.h"
#include "vm/installed_runtimes.h"

namespace qlx {

namespace {

// `v` comes last: a configuration that found a runtime before still finds
// the same one; only a start that would end with message 1 changes.
const char* const kDefaultSearchOrder = "cbsiev";
const char* const kJavaSoftKeys[] = {
    "SOFTWARE\\JavaSoft\\JRE",
    "SOFTWARE\\JavaSoft\\JDK",
    "SOFTWARE\\JavaSoft\\Java Runtime Environment",
    "SOFTWARE\\JavaSoft\\Java Development Kit",
};
const char* const kIbmKey = "SOFTWARE\\IBM\\Java2 Runtime Environment";

// "discovery <letter> <what><detail>: <verdict><found>"
void note(const char* letter, const char* what, const char* detail, const char* verdict,
          const char* found = "") {
  trace("discovery ", letter, what, detail, verdict, found);
}

// The verdict on a home that searchHome has looked at.
void noteHome(const char* letter, const char* what, Os& os, const std::string& home,
              const std::string& found) {
  note(letter, what, home.c_str(),
       !found.empty()            ? ": library "
       : os.isReadable(home) ? ": no library in this home"
                             : ": not readable",
       found.c_str());
}

// A `vm` value of one character ("-" when unset) names no VM type.
const std::string* preferredVmType(LauncherContext& context, Os& os) {
  const std::string& vm = vmKeyValue(context, os);
  return vm.size() > 1 ? &vm : nullptr;
}

// Registry strings may lack their terminator or carry several; the text is
// what comes before the first NUL.
bool readRegistryText(Os& os, const std::string& key, const char* name, std::string& out) {
  RegistryData data;
  if (!os.readRegistry(RegistryRoot::LocalMachine, key, name, data)) return false;
  const size_t end = data.bytes.find('\0');
  out = data.bytes.substr(0, end);
  return true;
}

// Drops the last path component unless its separator starts the text.
void dropLastComponent(std::string& path) {
  const size_t pos = path.find_last_of("\\/");
  if (pos != std::string::npos && pos != 0) path.resize(pos);
}

std::string configuredLibrary(LauncherContext& context, Os& os) {
  const std::string value =
      expandValue(context, os, lookupValue(context, "jvmdll", false, true), false);
  if (value.empty()) {
    if (tracing()) note("c ", "jvmdll", "", ": not configured");
    return std::string();
  }
  std::string path = resolveAppPath(context, os, value);
  const bool readable = os.isReadable(path);
  if (tracing()) note("c ", "jvmdll ", path.c_str(), readable ? ": library" : ": not readable");
  return readable ? path : std::string();
}

std::string bundledRuntime(LauncherContext& context, Os& os) {
  std::string value = expandValue(context, os, lookupValue(context, "jre", false, true), false);
  if (value.empty()) value = "./jre/";
  const std::string home = resolveAppPath(context, os, value);
  std::string found = searchHome(context, os, home);
  if (tracing()) noteHome("b ", "jre ", os, home, found);
  return found;
}

std::string runSource(char letter, LauncherContext& context, Os& os) {
  switch (letter) {
    case 'c':
      return configuredLibrary(context, os);
    case 'b':
      return bundledRuntime(context, os);
    case 's':
      for (const char* key : kJavaSoftKeys) {
        std::string found = registryRuntime(context, os, key);
        if (!found.empty()) return found;
      }
      return std::string();
    case 'i':
      return registryRuntime(context, os, kIbmKey);
    case 'e':
      return environmentRuntime(context, os);
    case 'v':
      return installedRuntime(context, os);
    default:
      return std::string();
  }
}

}  // namespace

std::string searchOrder(const std::string& jreOrderValue) {
  std::string order = jreOrderValue;
  for (char& c : order) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (order.find_first_of(kDefaultSearchOrder) == std::string::npos) return kDefaultSearchOrder;
  return order;
}

std::string searchHome(LauncherContext& context, Os& os, const std::string& home) {
  std::string base = home;
  if (!endsWithSeparator(base)) base += '/';
  const std::string* vmType = preferredVmType(context, os);
  for (int i = 0; i < kHomeSubdirectoryCount; ++i) {
    const std::string dir = base + kHomeSubdirectories[i];
    std::string candidate = dir + kVmLibraryName;
    if (os.isReadable(candidate)) return candidate;
    if (vmType != nullptr) {
      candidate = dir + *vmType + "/" + kVmLibraryName;
      if (os.isReadable(candidate)) return candidate;
    }
    std::vector<DirEntry> entries;
    if (!os.listDirectory(dir + "*", entries)) continue;
    for (const DirEntry& entry : entries) {
      if (!entry.isDirectory || entry.name == "." || entry.name == "..") continue;
      candidate = dir + entry.name + "/" + kVmLibraryName;
      if (os.isReadable(candidate)) return candidate;
    }
  }
  return std::string();
}

std::string registryRuntime(LauncherContext& context, Os& os, const std::string& productKey) {
  const char* letter = productKey.find("IBM") != std::string::npos ? "i " : "s ";
  std::string version;
  if (!readRegistryText(os, productKey, "CurrentVersion", version)) {
    if (tracing()) note(letter, "", productKey.c_str(), ": not configured");
    return std::string();
  }
  const std::string versionKey = productKey + "\\" + version;
  if (tracing()) note(letter, productKey.c_str(), " CurrentVersion ", version.c_str());

  std::string runtimeLib;
  if (readRegistryText(os, versionKey, "RuntimeLib", runtimeLib)) {
    if (os.isReadable(runtimeLib) && preferredVmType(context, os) == nullptr) {
      if (tracing())
        note(letter, "", versionKey.c_str(), " RuntimeLib: library ", runtimeLib.c_str());
      return runtimeLib;
    }
    // ...\bin\client\jvm.dll -> ...\bin, where the preferred type (or any
    // other) is looked for.
    dropLastComponent(runtimeLib);
    dropLastComponent(runtimeLib);
    std::string found = searchHome(context, os, runtimeLib);
    if (tracing()) noteHome(letter, "RuntimeLib ", os, runtimeLib, found);
    return found;
  }
  std::string javaHome;
  if (readRegistryText(os, versionKey, "JavaHome", javaHome)) {
    std::string found = searchHome(context, os, javaHome);
    if (tracing()) noteHome(letter, "JavaHome ", os, javaHome, found);
    return found;
  }
  if (tracing()) note(letter, "", versionKey.c_str(), ": not configured");
  return std::string();
}

std::string environmentRuntime(LauncherContext& context, Os& os) {
  // Each name with its label in the trace.
  static const char* const kVariables[][2] = {{"JRE_HOME", "JRE_HOME "},
                                              {"JAVA_HOME", "JAVA_HOME "}};
  for (const auto& variable : kVariables) {
    const char* name = variable[0];
    const std::optional<std::string> home = os.getEnv(name);
    if (!home || home->empty()) {
      if (tracing()) note("e ", name, "", ": not configured");
      continue;
    }
    std::string found = searchHome(context, os, *home);
    if (tracing()) noteHome("e ", variable[1], os, *home, found);
    if (!found.empty()) return found;
  }
  return std::string();
}

std::string findVmLibrary(LauncherContext& context, Os& os, std::string& cache) {
  if (cache != "-") return cache;
  const std::string order = searchOrder(lookupValue(context, "jre_order", false, true));
  if (tracing()) trace("discovery order ", order.c_str());
  for (char letter : order) {
    std::string found = runSource(letter, context, os);
    if (!found.empty()) {
      if (tracing()) trace("discovery chosen ", found.c_str());
      cache = found;
      return cache;
    }
  }
  if (tracing()) trace("discovery found no runtime");
  cache.clear();
  return cache;
}

std::string findVmLibrary(LauncherContext& context, Os& os) {
  // Discovery runs once per process, on the launch thread.
  static std::string cache = "-";
  return findVmLibrary(context, os, cache);
}

}  // namespace qlx
