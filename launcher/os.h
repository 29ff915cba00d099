// The few operating-system services the portable core needs, behind one
// interface so that host tests can drive the logic with a fake.
//
// os_win.cpp provides the real implementation on Windows (getenv, _access,
// FindFirstFileA, RegOpenKeyExA ...), os_posix.cpp on Linux (the registry is
// always empty there).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qlx {

struct DirEntry {
  std::string name;
  bool isDirectory = false;
};

// Which directory a path names, whatever link or junction led there:
// device and inode on Linux, volume serial number and file index on Windows.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t index = 0;
  bool operator==(const FileIdentity& other) const {
    return volume == other.volume && index == other.index;
  }
};

enum class RegistryRoot { ClassesRoot, CurrentUser, LocalMachine, Users, CurrentConfig };

// Own: the launcher's own registry view (what a reference in a configuration
// value reads). Bits64 and Bits32 name one view explicitly, so a 64-bit
// launcher also sees what 32-bit installers registered (Wow6432Node).
enum class RegistryView { Own, Bits64, Bits32 };

struct RegistryData {
  uint32_t type = 0;   // REG_SZ = 1, REG_EXPAND_SZ = 2, REG_DWORD = 4, REG_DWORD_BIG_ENDIAN = 5
  std::string bytes;   // raw value data
};

class Os {
 public:
  virtual ~Os() = default;

  // Environment variable, name compared without regard to case.
  virtual std::optional<std::string> getEnv(const std::string& name) = 0;
  // NAME=VALUE in the runtime's environment and the process environment
  // block; NAME= (empty value) removes the variable.
  virtual void setEnv(const std::string& assignment) = 0;

  // The runtime's access test for reading (_access(path, 4)); a directory
  // passes when it exists.
  virtual bool isReadable(const std::string& path) = 0;
  // The runtime's existence test.
  virtual bool exists(const std::string& path) = 0;

  // Lists the entries matching `pattern` (a directory prefix and one last
  // component that may hold '*' and '?'), with FindFirstFileA semantics:
  // listing order, "." and ".." included when they match. False when the
  // directory cannot be listed.
  virtual bool listDirectory(const std::string& pattern, std::vector<DirEntry>& out) = 0;

  // The identity of the directory `path` names, links followed. False when
  // it cannot be told (the caller then has only its depth limit).
  virtual bool directoryIdentity(const std::string& path, FileIdentity& out) {
    (void)path;
    (void)out;
    return false;
  }

  // One registry value of the launcher's own registry view. False when the
  // key or value cannot be read.
  virtual bool readRegistry(RegistryRoot root, const std::string& subkey,
                            const std::string& valueName, RegistryData& out) = 0;
  // The same in a chosen view.
  virtual bool readRegistryIn(RegistryView view, RegistryRoot root, const std::string& subkey,
                              const std::string& valueName, RegistryData& out) {
    return view == RegistryView::Own && readRegistry(root, subkey, valueName, out);
  }
  // Names of the subkeys of a key, in the registry's enumeration order.
  // False when the key cannot be opened.
  virtual bool listRegistryKeys(RegistryView view, RegistryRoot root, const std::string& subkey,
                                std::vector<std::string>& out) {
    (void)view, (void)root, (void)subkey, (void)out;
    return false;
  }

  // A whole small file (a Java home's `release`). False when it cannot be read.
  virtual bool readFile(const std::string& path, std::string& out) = 0;

  // One line for the user about the configuration (standard error, once).
  virtual void warn(const std::string& line) { (void)line; }
};

// The real operating system (process-wide, never null).
Os& systemOs();

}  // namespace qlx
