// Parsing qlxwrap's options and the help text that documents them.
#include "tools/qlxwrap/options.h"

#include <optional>

namespace qlx::wrap {

const char* usageText() {
  return
      "Usage: qlxwrap --stub FILE --jar FILE [--config FILE] --output FILE [options]\n"
      "       qlxwrap --inspect FILE\n"
      "       qlxwrap --check FILE [--strict]\n"
      "\n"
      "Appends a Java application to a copy of the qlx launcher stub, making one\n"
      "program file. The payload after the stub is: configuration block (UTF-8 mark,\n"
      "text with CR LF lines, NUL), its length L (32-bit little-endian), a 16-byte\n"
      "integrity digest, then the application archive; the archive's length is also\n"
      "written into the stub's archive length slot.\n"
      "\n"
      "Options:\n"
      "  --stub FILE           launcher stub to copy (qlx.exe, or qlx on Linux)\n"
      "  --jar FILE            application archive (a zip/JAR file)\n"
      "  --config FILE         configuration text (UTF-8 with or without a mark, or\n"
      "                        UTF-16 with a mark; any line ends); empty if omitted\n"
      "  -o, --output FILE     program to write (written to a temporary file in the\n"
      "                        same directory, then renamed into place)\n"
      "  --service-name TEXT   Windows service name (default: output file name\n"
      "                        without .exe); at most 255 bytes, no '/' or '\\'\n"
      "  --display-name TEXT   service display name (default: the service name)\n"
      "  --description TEXT    service description (default: empty)\n"
      "  --depends LIST        services this one depends on, separated by '/'\n"
      "  --start-type T        start type /install uses: auto, delayed, manual\n"
      "                        (default) or disabled\n"
      "  --account A           account the service runs as: LocalSystem (default),\n"
      "                        LocalService, NetworkService, virtual (NT SERVICE\\name)\n"
      "                        or a user (its password is asked for at /install)\n"
      "  --recovery R          restart after failures: DELAY[/COUNT[/RESET]] in\n"
      "                        seconds (count default 3, reset default 86400), or none\n"
      "  --fail-on-exit yes|no a stop with a non-zero exit code counts as a failure\n"
      "                        (default: yes when --recovery is set)\n"
      "  --merge JAR           add the entries of another archive (repeatable); the\n"
      "                        application's own entries win on duplicates, merged\n"
      "                        manifests and signature files are left out\n"
      "  --support             merge qlx-support.jar, found beside qlxwrap, in\n"
      "                        ../java/ or in a dist/ directory\n"
      "  --icon FILE           replace the program icon (group 1) with every image of\n"
      "                        a .ico file (16 to 256 pixels, PNG images included)\n"
      "  --file-version V      version information, shown by Explorer's Details tab:\n"
      "  --product-version V     versions are 1 to 4 numbers 0..65535 joined by '.'\n"
      "  --company TEXT          (each defaults to the other); texts are UTF-8.\n"
      "  --product-name TEXT     Any of these writes the VERSIONINFO resource, with\n"
      "  --file-description TEXT OriginalFilename = the output's file name\n"
      "  --copyright TEXT\n"
      "  --execution-level L   manifest requestedExecutionLevel: asInvoker (default),\n"
      "                        requireAdministrator or highestAvailable\n"
      "  --utf8-codepage       manifest activeCodePage UTF-8 (Windows 10 1903 and\n"
      "                        later): the program's ANSI code page becomes UTF-8\n"
      "  --inspect FILE        describe a wrapped program (stub, configuration and\n"
      "                        its check, service identity, archive, digest,\n"
      "                        signature, icon, version) and exit with the\n"
      "                        inspect codes below\n"
      "  --check FILE          check a configuration file that is to lie beside a\n"
      "                        program (unknown keys, values the launcher cannot\n"
      "                        read); exit 0 when it has no errors, 1 when it has\n"
      "  --strict              treat every warning as an error: exit 1 and write\n"
      "                        nothing (also with --check), for build pipelines\n"
      "  --allow-config-errors write the program even when the configuration has\n"
      "                        errors (no mainclass, unreadable values), to test how\n"
      "                        the launcher treats them; they are shown as notes\n"
      "  -h, --help            show this text\n"
      "  --version             show the version\n"
      "\n"
      "The configuration is checked before anything is written: no mainclass, or a\n"
      "value the launcher cannot read for a key with a fixed form (minjre, maxjre,\n"
      "jre_order, singleinstance, wildcard, mainargv, ...), is an error; an unknown\n"
      "key is a warning naming the nearest known key, and so is an option line with\n"
      "quotes (the VM gets them as written). Without a mainclass line the Main-Class\n"
      "of the JAR's manifest is used (a note says so); the main class must be in the\n"
      "JAR or a merged archive, or a warning says so. A --config file that lies\n"
      "where the output reads its external configuration (app.cfg beside app.exe)\n"
      "is a warning too.\n"
      "\n"
      "Option values may also be given as --name=value. The service options only\n"
      "apply to Windows stubs; for a Linux stub they are ignored with a note, as are\n"
      "--icon and the version options. Windows outputs always carry a manifest.\n"
      "\n"
      "Exit codes:\n"
      "  0  the program was written\n"
      "  1  bad or missing option, or a configuration text with errors (with\n"
      "     --strict: with warnings)\n"
      "  2  an input file is missing or unreadable\n"
      "  3  the JAR or a merged archive is not a usable zip archive\n"
      "  4  the stub has no archive length slot, has two, or is already wrapped\n"
      "  5  the output cannot be written\n"
      "  6  the service texts do not fit into the stub's string table\n"
      "  7  --icon names a file that is not an icon\n"
      "  8  the stub's resources cannot be rewritten\n"
      "\n"
      "Exit codes of --inspect:\n"
      "  0  an intact wrapped program\n"
      "  2  the file cannot be read\n"
      "  10 the digest does not match: the file was modified after it was written\n"
      "  11 no valid payload: a bare stub, a truncated file or not a qlx program\n";
}

std::string defaultServiceName(const std::string& output) {
  size_t sep = output.find_last_of("/\\");
  std::string name = sep == std::string::npos ? output : output.substr(sep + 1);
  if (name.size() > 4) {
    std::string ext = name.substr(name.size() - 4);
    for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (ext == ".exe") name.resize(name.size() - 4);
  }
  return name;
}

bool parseOptions(const std::vector<std::string>& args, Options& o, Failure& f) {
  o = Options{};
  auto usage = [&](std::string message) {
    f.code = kUsage;
    f.message = std::move(message) + " (see --help)";
    return false;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::optional<std::string> inlineValue;
    if (arg.compare(0, 2, "--") == 0) {
      size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        inlineValue = arg.substr(eq + 1);
        arg.resize(eq);
      }
    }
    if (arg == "-h" || arg == "--help") {
      o.help = true;
      continue;
    }
    if (arg == "--version") {
      o.version = true;
      continue;
    }
    if (arg == "--utf8-codepage") {
      if (inlineValue) return usage("--utf8-codepage takes no value");
      o.utf8CodePage = true;
      continue;
    }
    if (arg == "--allow-config-errors") {
      if (inlineValue) return usage("--allow-config-errors takes no value");
      o.allowConfigErrors = true;
      continue;
    }
    if (arg == "--strict") {
      if (inlineValue) return usage("--strict takes no value");
      o.strict = true;
      continue;
    }
    if (arg == "--support") {
      if (inlineValue) return usage("--support takes no value");
      o.support = true;
      continue;
    }
    std::string* target = nullptr;
    std::optional<std::string>* optionalTarget = nullptr;
    bool repeatable = false;
    if (arg == "--stub") target = &o.stub;
    else if (arg == "--jar") target = &o.jar;
    else if (arg == "--config") target = &o.config;
    else if (arg == "--output" || arg == "-o") target = &o.output;
    else if (arg == "--merge") repeatable = true;
    else if (arg == "--icon") target = &o.icon;
    else if (arg == "--inspect") target = &o.inspect;
    else if (arg == "--check") target = &o.check;
    else if (arg == "--execution-level") target = &o.executionLevel;
    else if (arg == "--file-version") optionalTarget = &o.versionInfo.fileVersion;
    else if (arg == "--product-version") optionalTarget = &o.versionInfo.productVersion;
    else if (arg == "--company") optionalTarget = &o.versionInfo.company;
    else if (arg == "--product-name") optionalTarget = &o.versionInfo.productName;
    else if (arg == "--file-description") optionalTarget = &o.versionInfo.fileDescription;
    else if (arg == "--copyright") optionalTarget = &o.versionInfo.copyright;
    else if (arg == "--service-name") optionalTarget = &o.identity.name;
    else if (arg == "--display-name") optionalTarget = &o.identity.displayName;
    else if (arg == "--description") optionalTarget = &o.identity.description;
    else if (arg == "--depends") optionalTarget = &o.identity.dependencies;
    else if (arg == "--start-type") optionalTarget = &o.identity.startType;
    else if (arg == "--account") optionalTarget = &o.identity.account;
    else if (arg == "--recovery") optionalTarget = &o.identity.recovery;
    else if (arg == "--fail-on-exit") optionalTarget = &o.identity.failOnExit;
    else return usage("unknown option '" + args[i] + "'");

    std::string value;
    if (inlineValue) {
      value = *inlineValue;
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      return usage(arg + " needs a value");
    }
    if (repeatable) {
      if (value.empty()) return usage("--merge needs a file name");
      o.merges.push_back(value);
    } else if (target != nullptr) {
      if (value.empty()) return usage(arg + " needs a file name");
      if (!target->empty()) return usage(arg + " given twice");
      *target = value;
    } else {
      if (optionalTarget->has_value()) return usage(arg + " given twice");
      *optionalTarget = value;
    }
  }
  if (o.help || o.version) return true;
  if (!o.inspect.empty()) {
    if (args.size() > 2) return usage("--inspect takes one file and no other option");
    return true;
  }
  if (!o.check.empty()) {
    if (args.size() > (o.strict ? 3u : 2u))
      return usage("--check takes one file and no other option but --strict");
    return true;
  }
  if (o.strict && o.allowConfigErrors)
    return usage("--strict and --allow-config-errors cannot be used together");
  if (!o.executionLevel.empty() && o.executionLevel != "asInvoker" &&
      o.executionLevel != "requireAdministrator" && o.executionLevel != "highestAvailable")
    return usage("--execution-level must be asInvoker, requireAdministrator or highestAvailable");
  if (o.stub.empty()) return usage("--stub is required");
  if (o.jar.empty()) return usage("--jar is required");
  if (o.output.empty()) return usage("--output is required");
  return true;
}

}  // namespace qlx::wrap
