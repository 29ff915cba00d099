// An in-memory Os for host tests: environment, a file tree and a registry
// that a test fills in, with FindFirstFileA-like listings.
#pragma once

#include <fnmatch.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "launcher/launcher_context.h"
#include "launcher/os.h"
#include "launcher/text.h"

namespace qlx::testing {

class FakeOs : public Os {
 public:
  // Environment: names keep their case; lookups ignore it.
  std::vector<std::pair<std::string, std::string>> env;
  // Paths of existing files and directories, as the code under test spells
  // them. A directory's listing order is the order of insertion.
  std::vector<std::pair<std::string, bool>> files;  // path, isDirectory
  struct RegistryEntry {
    RegistryRoot root;
    std::string subkey;
    std::string valueName;
    RegistryData data;
  };
  std::vector<RegistryEntry> registry;
  std::vector<std::pair<std::string, std::string>> contents;  // path, file text
  std::vector<std::string> setEnvCalls;
  std::vector<std::string> warnings;  // lines given to warn(), in order
  int registryReads = 0;

  FakeOs& withEnv(const std::string& name, const std::string& value) {
    env.emplace_back(name, value);
    return *this;
  }
  FakeOs& withFile(const std::string& path) {
    files.emplace_back(path, false);
    return *this;
  }
  FakeOs& withDir(const std::string& path) {
    files.emplace_back(path, true);
    return *this;
  }
  FakeOs& withRegistry(RegistryRoot root, const std::string& subkey, const std::string& valueName,
                       uint32_t type, const std::string& bytes) {
    registry.push_back({root, subkey, valueName, RegistryData{type, bytes}});
    return *this;
  }

  FakeOs& withContent(const std::string& path, const std::string& text) {
    contents.emplace_back(path, text);
    return withFile(path);
  }

  std::optional<std::string> getEnv(const std::string& name) override {
    for (auto& [n, v] : env)
      if (equalsIgnoreCase(n, name)) return v;
    return std::nullopt;
  }

  void setEnv(const std::string& assignment) override {
    setEnvCalls.push_back(assignment);
    const size_t eq = assignment.find('=');
    if (eq == std::string::npos) return;
    const std::string name = assignment.substr(0, eq);
    for (auto it = env.begin(); it != env.end(); ++it) {
      if (equalsIgnoreCase(it->first, name)) {
        env.erase(it);
        break;
      }
    }
    if (eq + 1 < assignment.size()) env.emplace_back(name, assignment.substr(eq + 1));
  }

  void warn(const std::string& line) override { warnings.push_back(line); }

  bool isReadable(const std::string& path) override { return exists(path); }

  bool exists(const std::string& path) override {
    for (auto& f : files)
      if (f.first == path) return true;
    return false;
  }

  bool listDirectory(const std::string& pattern, std::vector<DirEntry>& out) override {
    size_t cut = pattern.find_last_of("\\/");
    const std::string dir = cut == std::string::npos ? "" : pattern.substr(0, cut + 1);
    const std::string component = cut == std::string::npos ? pattern : pattern.substr(cut + 1);
    const std::string dirNoSep = dir.empty() ? "" : dir.substr(0, dir.size() - 1);
    if (!dir.empty() && !isDirectory(dirNoSep)) return false;
    bool any = false;
    auto offer = [&](const std::string& name, bool isDir) {
      if (fnmatch(component.c_str(), name.c_str(), 0) == 0) {
        out.push_back({name, isDir});
        any = true;
      }
    };
    offer(".", true);
    offer("..", true);
    for (auto& f : files) {
      if (f.first.size() <= dir.size() || f.first.compare(0, dir.size(), dir) != 0) continue;
      const std::string rest = f.first.substr(dir.size());
      if (rest.find_first_of("\\/") != std::string::npos) continue;
      offer(rest, f.second);
    }
    return any;
  }

  bool readRegistry(RegistryRoot root, const std::string& subkey, const std::string& valueName,
                    RegistryData& out) override {
    ++registryReads;
    for (auto& r : registry) {
      if (r.root == root && r.subkey == subkey && r.valueName == valueName) {
        out = r.data;
        return true;
      }
    }
    return false;
  }

  // One 64-bit registry: the launcher's own view, and no 32-bit one.
  bool readRegistryIn(RegistryView view, RegistryRoot root, const std::string& subkey,
                      const std::string& valueName, RegistryData& out) override {
    return view != RegistryView::Bits32 && readRegistry(root, subkey, valueName, out);
  }

  bool listRegistryKeys(RegistryView view, RegistryRoot root, const std::string& subkey,
                        std::vector<std::string>& out) override {
    bool exists = false;
    for (auto& r : registry) {
      if (view == RegistryView::Bits32 || r.root != root) continue;
      if (r.subkey.compare(0, subkey.size() + 1, subkey + "\\") != 0) continue;
      exists = true;
      const std::string rest = r.subkey.substr(subkey.size() + 1);
      const std::string name = rest.substr(0, rest.find('\\'));
      if (std::find(out.begin(), out.end(), name) == out.end()) out.push_back(name);
    }
    return exists;
  }

  bool readFile(const std::string& path, std::string& out) override {
    for (auto& [p, text] : contents) {
      if (p == path) {
        out = text;
        return true;
      }
    }
    return false;
  }

 private:
  bool isDirectory(const std::string& path) {
    for (auto& f : files)
      if (f.first == path) return f.second;
    return false;
  }
};

// A context for a program /app/prog started in /start, holding `config` as
// its embedded configuration.
inline LauncherContext programContext(const std::string& config) {
  LauncherContext context;
  context.configText = config;
  context.applicationPath = "/app/prog";
  context.applicationHome = "/app/";
  context.startDirectory = "/start/";
  return context;
}

}  // namespace qlx::testing
