// The generator's finding texts. Each says what the launcher will do with
// what it was given, and what to write instead where that is known.
#include "tools/qlxwrap/finding_texts.h"

#include <vector>

namespace qlx::wrap {
namespace {

constexpr Severity kNote = Severity::Note, kWarning = Severity::Warning, kError = Severity::Error;

const FindingText kTexts[] = {
    {Finding::UnknownKey, "unknown-key", kWarning,
     "unknown key '%1' is ignored (nearest known key: '%2')"},
    {Finding::EmbeddedOnlyKey, "embedded-only-key", kWarning,
     "%1 is only read from the embedded configuration: this line is ignored"},
    {Finding::SetAgain, "set-again", kWarning, "%1 is set again: only line %2 counts"},
    {Finding::UnreadableValue, "unreadable-value", kError, "%1 '%2' cannot be read: expected %3"},
    {Finding::NoMainClass, "no-mainclass", kError,
     "no mainclass: the configuration must name the application's main class, or the JAR's "
     "manifest its Main-Class"},
    {Finding::QuotedOption, "quoted-option", kWarning,
     "option '%1' reaches the VM as written, quotes included: each option line is one VM "
     "option taken as it stands, blanks too; write option %2 (or use options, which splits "
     "and unquotes like a command line)"},
    {Finding::MainClassFromManifest, "mainclass-from-manifest", kNote,
     "no mainclass in the configuration: %1, the Main-Class of the JAR's manifest, is used"},
    {Finding::MainClassNotInArchive, "mainclass-not-in-archive", kWarning,
     "mainclass %1 is in neither the JAR nor a merged archive (no %2): the program will report "
     "that its main class cannot be found unless its class path brings it"},
    {Finding::ConfigBesideOutput, "config-beside-output", kWarning,
     "the configuration file %1 lies where %2 looks for its external configuration: the "
     "program skips it only while its text equals the embedded block, and applies its lines "
     "again once it is edited; keep the source elsewhere or under another name"},
};

}  // namespace

const FindingText& findingText(Finding id) {
  for (const FindingText& t : kTexts)
    if (t.id == id) return t;
  return kTexts[0];  // every id is in the table (a unit test proves it)
}

std::string findingMessage(Finding id, std::initializer_list<std::string> values) {
  const std::vector<std::string> fill(values);
  std::string out;
  for (const char* p = findingText(id).text; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] >= '1' && p[1] <= '9') {
      const size_t index = static_cast<size_t>(p[1] - '1');
      if (index < fill.size()) out += fill[index];
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

}  // namespace qlx::wrap
