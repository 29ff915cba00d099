// qlxwrap's command line.
#pragma once

#include <string>
#include <vector>

#include "tools/qlxwrap/wrap.h"

namespace qlx::wrap {

struct Options {
  std::string stub, jar, config, output;
  std::vector<std::string> merges;
  bool support = false;
  bool help = false;
  bool version = false;
  ServiceIdentity identity;
  std::string icon;
  VersionInfo versionInfo;
  std::string executionLevel;  // empty: asInvoker
  bool utf8CodePage = false;
  std::string inspect;         // --inspect FILE: report instead of wrapping
  std::string check;           // --check FILE: check an external configuration file
  bool allowConfigErrors = false;
  bool strict = false;         // warnings stop the generator as errors do
};

// Parses the arguments after the program name ("--name value" or
// "--name=value"). On failure returns false with a kUsage failure.
bool parseOptions(const std::vector<std::string>& args, Options& options, Failure& failure);

// The --help text.
const char* usageText();

// The service name used when none is given: the output's file name
// without its directory and without a ".exe" ending.
std::string defaultServiceName(const std::string& output);

}  // namespace qlx::wrap
