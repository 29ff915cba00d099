// qlxwrap's model: the inputs of one wrapping run, the exit codes, and the
// function that turns a stub, a configuration text and an archive into the
// bytes of a wrapped program. Everything here works on bytes in memory, so
// the unit tests drive it without files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qlx::wrap {

using Bytes = std::vector<uint8_t>;

// Process exit codes (documented by --help).
enum ExitCode : int {
  kOk = 0,
  kUsage = 1,         // bad option, missing option, unusable configuration text
  kUnreadable = 2,    // an input file is missing or unreadable
  kBadArchive = 3,    // the JAR (or a merged archive) is not a usable zip
  kBadStub = 4,       // no archive length slot, two of them, or already wrapped
  kUnwritable = 5,    // the output could not be written
  kBadIdentity = 6,   // the service texts do not fit the stub's string block
  kBadIcon = 7,       // --icon names a file that is not an icon
  kBadResources = 8,  // the stub's resources cannot be rewritten
};

struct Failure {
  int code = kOk;
  std::string message;  // one line, no trailing newline
};

// Per-application service identity (string ids 256..259), UTF-8.
struct ServiceIdentity {
  std::optional<std::string> name;
  std::optional<std::string> displayName;
  std::optional<std::string> description;
  std::optional<std::string> dependencies;  // "/"-separated
  // Install-time defaults (string 260); /install switches override them.
  std::optional<std::string> startType, account, recovery, failOnExit;
  bool any() const {
    return name || displayName || description || dependencies || startType || account ||
           recovery || failOnExit;
  }
};

// Version information (VS_VERSIONINFO), UTF-8; written when any is set.
struct VersionInfo {
  std::optional<std::string> fileVersion, productVersion, company, productName, fileDescription,
      copyright;
  bool any() const {
    return fileVersion || productVersion || company || productName || fileDescription || copyright;
  }
};

struct WrapInput {
  Bytes stub;
  Bytes config;                 // as read from the configuration file
  Bytes archive;                // the application JAR
  std::string archiveName = "JAR";
  std::vector<Bytes> merges;    // further archives whose entries are added
  std::vector<std::string> mergeNames;
  ServiceIdentity identity;
  std::string defaultServiceName;  // used when no name is given (PE stubs)
  std::optional<Bytes> icon;       // an .ico file for icon group 1
  VersionInfo version;
  std::string outputFileName;      // OriginalFilename of the version information
  std::string executionLevel = "asInvoker";
  bool utf8CodePage = false;
  bool allowConfigErrors = false;  // configuration mistakes become warnings
};

struct WrapResult {
  Bytes output;
  std::vector<std::string> notes;     // informational lines for stderr
  std::vector<std::string> warnings;  // mistakes that did not stop the generator
};

// Builds the wrapped program. On failure returns false with `failure` set.
bool buildWrapped(const WrapInput& input, WrapResult& result, Failure& failure);

}  // namespace qlx::wrap
