// Java runtime discovery: tries the sources named by `jre_order` in turn and
// keeps the first VM library found for the rest of the process.
#include "vm/discovery.h"

#include <cctype>

#include "launcher/config.h"
#include "launcher/expand.h"
#include "launcher/text.h"

namespace qlx {

namespace {

const char* const kDefaultSearchOrder = "cbsie";
const char* const kJavaSoftKeys[] = {
    "SOFTWARE\\JavaSoft\\JRE",
    "SOFTWARE\\JavaSoft\\JDK",
    "SOFTWARE\\JavaSoft\\Java Runtime Environment",
    "SOFTWARE\\JavaSoft\\Java Development Kit",
};
const char* const kIbmKey = "SOFTWARE\\IBM\\Java2 Runtime Environment";

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
  if (value.empty()) return std::string();
  std::string path = resolveAppPath(context, os, value);
  return os.isReadable(path) ? path : std::string();
}

std::string bundledRuntime(LauncherContext& context, Os& os) {
  std::string value = expandValue(context, os, lookupValue(context, "jre", false, true), false);
  if (value.empty()) value = "./jre/";
  return searchHome(context, os, resolveAppPath(context, os, value));
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
  std::string version;
  if (!readRegistryText(os, productKey, "CurrentVersion", version)) return std::string();
  const std::string versionKey = productKey + "\\" + version;

  std::string runtimeLib;
  if (readRegistryText(os, versionKey, "RuntimeLib", runtimeLib)) {
    if (os.isReadable(runtimeLib) && preferredVmType(context, os) == nullptr) return runtimeLib;
    // ...\bin\client\jvm.dll -> ...\bin, where the preferred type (or any
    // other) is looked for.
    dropLastComponent(runtimeLib);
    dropLastComponent(runtimeLib);
    return searchHome(context, os, runtimeLib);
  }
  std::string javaHome;
  if (readRegistryText(os, versionKey, "JavaHome", javaHome))
    return searchHome(context, os, javaHome);
  return std::string();
}

std::string environmentRuntime(LauncherContext& context, Os& os) {
  for (const char* name : {"JRE_HOME", "JAVA_HOME"}) {
    const std::optional<std::string> home = os.getEnv(name);
    if (!home || home->empty()) continue;
    std::string found = searchHome(context, os, *home);
    if (!found.empty()) return found;
  }
  return std::string();
}

std::string findVmLibrary(LauncherContext& context, Os& os, std::string& cache) {
  if (cache != "-") return cache;
  const std::string order = searchOrder(lookupValue(context, "jre_order", false, true));
  for (char letter : order) {
    std::string found = runSource(letter, context, os);
    if (!found.empty()) {
      cache = found;
      return cache;
    }
  }
  cache.clear();
  return cache;
}

std::string findVmLibrary(LauncherContext& context, Os& os) {
  // Discovery runs once per process, on the launch thread.
  static std::string cache = "-";
  return findVmLibrary(context, os, cache);
}

}  // namespace qlx
