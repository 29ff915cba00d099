// qlxwrap: makes one program file out of the qlx launcher stub, a
// configuration text and a Java application archive.
#include <cstdio>

#include "tools/qlxwrap/config_block.h"
#include "tools/qlxwrap/config_check.h"
#include "tools/qlxwrap/file_ops.h"
#include "tools/qlxwrap/inspect.h"
#include "tools/qlxwrap/options.h"
#include "tools/qlxwrap/wrap.h"

namespace {

constexpr const char* kVersion = "qlxwrap " QLX_VERSION;

int report(int code, const std::string& message) {
  std::fprintf(stderr, "qlxwrap: %s\n", message.c_str());
  return code;
}

bool readInput(const std::string& path, const char* what, qlx::wrap::Bytes& out, int& code) {
  std::string error;
  if (qlx::wrap::readWholeFile(path, out, error)) return true;
  code = report(qlx::wrap::kUnreadable, std::string("cannot read ") + what + " '" + path + "': " + error);
  return false;
}

// An external configuration file, checked the way the launcher will read
// it: beside a program, after nothing was embedded from it.
int checkExternal(const std::string& path, bool strict) {
  using namespace qlx::wrap;
  Bytes file, block;
  std::string error;
  if (!readWholeFile(path, file, error))
    return report(kUnreadable, "cannot read '" + path + "': " + error);
  if (!buildConfigBlock(file, block, error)) return report(kUsage, path + ": " + error);
  const std::string text(block.begin() + 3, block.end() - 1);
  int errors = 0, warnings = 0;
  for (const ConfigFinding& f : checkConfig(text, ConfigRole::External)) {
    (f.error ? errors : warnings)++;
    std::fprintf(stderr, "qlxwrap: %s: %s: %s\n", printable(path).c_str(),
                 f.error ? "error" : strict ? "error (--strict)" : "warning",
                 findingText(f).c_str());
  }
  std::printf("%s: %d error%s, %d warning%s\n", printable(path).c_str(), errors,
              errors == 1 ? "" : "s", warnings, warnings == 1 ? "" : "s");
  return errors == 0 && !(strict && warnings > 0) ? kOk : kUsage;
}

// The output's external configuration file names, in the order the
// launcher tries them (<exe>.cfg, <exe>.config, <name>.cfg, <name>.config).
std::vector<std::string> externalConfigNames(const std::string& output) {
  const size_t sep = output.find_last_of("/\\");
  const size_t dot = output.find_last_of('.');
  std::vector<std::string> names = {output + ".cfg", output + ".config"};
  if (dot != std::string::npos && (sep == std::string::npos || dot > sep)) {
    names.push_back(output.substr(0, dot) + ".cfg");
    names.push_back(output.substr(0, dot) + ".config");
  }
  return names;
}

// A configuration source kept where the program reads its external file is
// read twice: once embedded, and again beside it at every start.
void checkConfigLocation(const std::string& config, const std::string& output,
                         std::vector<std::string>& warnings) {
  if (config.empty()) return;
  const size_t sep = output.find_last_of("/\\");
  const std::string outputName = sep == std::string::npos ? output : output.substr(sep + 1);
  // Compared as files, not as texts: relative paths, links and the case of
  // a Windows name all lead to the same file.
  for (const std::string& candidate : externalConfigNames(output)) {
    if (qlx::wrap::sameFile(config, candidate)) {
      warnings.push_back(qlx::wrap::findingMessage(qlx::wrap::Finding::ConfigBesideOutput,
                                                   {qlx::wrap::printable(config),
                                                    qlx::wrap::printable(outputName)}));
      return;
    }
  }
}

// qlx-support.jar beside qlxwrap (dist/), in the build tree's java/, or in
// a dist/ directory of the working directory or the source tree.
std::string findSupportArchive() {
  std::string dir = qlx::wrap::executableDirectory();
  const std::string candidates[] = {
      dir + "qlx-support.jar",
      dir + "../java/qlx-support.jar",
      dir + "../../dist/qlx-support.jar",
      "dist/qlx-support.jar",
  };
  for (const std::string& c : candidates) {
    if (qlx::wrap::fileExists(c)) return c;
  }
  return std::string();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace qlx::wrap;
  std::vector<std::string> args = commandLineUtf8(argc, argv);
  if (!args.empty()) args.erase(args.begin());
  Options options;
  Failure failure;
  if (!parseOptions(args, options, failure)) return report(failure.code, failure.message);
  if (options.help) {
    std::fputs(usageText(), stdout);
    return kOk;
  }
  if (options.version) {
    std::printf("%s\n", kVersion);
    return kOk;
  }

  if (!options.check.empty()) return checkExternal(options.check, options.strict);

  if (!options.inspect.empty()) {
    Bytes file;
    std::string error;
    if (!readWholeFile(options.inspect, file, error))
      return report(kUnreadable, "cannot read '" + options.inspect + "': " + error);
    InspectResult inspected = inspectFile(file, options.inspect, fileExists);
    std::fputs(inspected.text.c_str(), stdout);
    return inspected.code;
  }

  WrapInput input;
  int code = kOk;
  if (!readInput(options.stub, "stub", input.stub, code) ||
      !readInput(options.jar, "JAR", input.archive, code) ||
      (!options.config.empty() && !readInput(options.config, "configuration", input.config, code)))
    return code;
  input.archiveName = options.jar;
  if (options.support) {
    std::string support = findSupportArchive();
    if (support.empty())
      return report(kUnreadable, "--support: qlx-support.jar not found beside qlxwrap or in dist/");
    options.merges.push_back(support);
  }
  for (const std::string& m : options.merges) {
    input.merges.emplace_back();
    if (!readInput(m, "merged archive", input.merges.back(), code)) return code;
    input.mergeNames.push_back(m);
  }
  if (!options.icon.empty()) {
    input.icon.emplace();
    if (!readInput(options.icon, "icon", *input.icon, code)) return code;
  }
  input.identity = options.identity;
  input.version = options.versionInfo;
  if (!options.executionLevel.empty()) input.executionLevel = options.executionLevel;
  input.utf8CodePage = options.utf8CodePage;
  input.allowConfigErrors = options.allowConfigErrors;
  size_t sep = options.output.find_last_of("/\\");
  input.outputFileName = sep == std::string::npos ? options.output : options.output.substr(sep + 1);
  input.defaultServiceName = defaultServiceName(options.output);

  WrapResult result;
  if (!buildWrapped(input, result, failure)) return report(failure.code, failure.message);
  checkConfigLocation(options.config, options.output, result.warnings);
  for (const std::string& note : result.notes) std::fprintf(stderr, "qlxwrap: %s\n", note.c_str());
  for (const std::string& warning : result.warnings)
    std::fprintf(stderr, "qlxwrap: %s: %s\n", options.strict ? "error (--strict)" : "warning",
                 warning.c_str());
  if (options.strict && !result.warnings.empty()) return kUsage;
  std::string error;
  if (!writeFileAtomically(options.output, result.output, options.stub, error))
    return report(kUnwritable, "cannot write '" + options.output + "': " + error);
  return kOk;
}
