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
int checkExternal(const std::string& path) {
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
                 f.error ? "error" : "warning", findingText(f).c_str());
  }
  std::printf("%s: %d error%s, %d warning%s\n", printable(path).c_str(), errors,
              errors == 1 ? "" : "s", warnings, warnings == 1 ? "" : "s");
  return errors == 0 ? kOk : kUsage;
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

  if (!options.check.empty()) return checkExternal(options.check);

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
  for (const std::string& note : result.notes) std::fprintf(stderr, "qlxwrap: %s\n", note.c_str());
  std::string error;
  if (!writeFileAtomically(options.output, result.output, options.stub, error))
    return report(kUnwritable, "cannot write '" + options.output + "': " + error);
  return kOk;
}
