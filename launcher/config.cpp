// Configuration lookups. The text is scanned line by line on every read;
// configurations are small and read-only after start-up, so there is no
// index to keep in step with it.
#include "launcher/config.h"

#include <cctype>

#include "launcher/expand.h"

namespace qlx {
namespace {

// Calls onValue(value) for every line that belongs to `key`; stops early
// when onValue returns false.
template <typename OnValue>
void scanKey(const LauncherContext& context, std::string_view key, bool embeddedOnly,
             OnValue onValue) {
  std::string_view text(context.configText);
  size_t pos = embeddedOnly ? context.externalLength : 0;
  if (pos > text.size()) pos = text.size();
  const size_t nul = text.find('\0', pos);
  const size_t end = nul == std::string_view::npos ? text.size() : nul;
  if (key.empty()) return;

  while (pos < end) {
    size_t lineEnd = pos;
    while (lineEnd < end && text[lineEnd] != '\r' && text[lineEnd] != '\n') ++lineEnd;
    std::string_view line = text.substr(pos, lineEnd - pos);
    // One line end: CR, LF, CR LF or LF CR.
    pos = lineEnd;
    if (pos < end) {
      const char first = text[pos++];
      if (pos < end && (text[pos] == '\r' || text[pos] == '\n') && text[pos] != first) ++pos;
    }

    size_t i = 0;
    while (i < line.size() && line[i] == ' ') ++i;
    line.remove_prefix(i);
    if (!startsWithIgnoreCase(line, key)) continue;
    if (line.size() > key.size()) {
      const unsigned char next = static_cast<unsigned char>(line[key.size()]);
      if (std::isalnum(next) || next == '_') continue;
    }
    std::string_view value = line.substr(key.size());
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    if (!value.empty() && value.front() == '=') {
      value.remove_prefix(1);
      while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    }
    if (!onValue(value)) return;
  }
}

std::string prepare(std::string_view value, bool toNarrow) {
  return toNarrow ? utf8ToNarrow(value) : std::string(value);
}

}  // namespace

std::string lookupValue(const LauncherContext& context, std::string_view key, bool embeddedOnly,
                        bool toNarrow) {
  std::string result;
  scanKey(context, key, embeddedOnly, [&](std::string_view value) {
    result = prepare(value, toNarrow);
    return false;
  });
  return result;
}

void lookupValues(const LauncherContext& context, std::string_view key, const ValueHandler& handler,
                  bool embeddedOnly, bool toNarrow) {
  scanKey(context, key, embeddedOnly, [&](std::string_view value) {
    handler(prepare(value, toNarrow));
    return true;
  });
}

std::string appidValue(const LauncherContext& c) { return lookupValue(c, "appid", false, true); }
std::string wildcardValue(const LauncherContext& c) {
  return lookupValue(c, "wildcard", false, true);
}
std::string singleInstanceValue(const LauncherContext& c) {
  return lookupValue(c, "singleinstance", false, true);
}
// Kept in UTF-8: a class name goes to the VM, not to the operating system.
std::string mainClassValue(const LauncherContext& c) {
  return lookupValue(c, "mainclass", true, false);
}
std::string minJreValue(const LauncherContext& c) { return lookupValue(c, "minjre", false, true); }
std::string maxJreValue(const LauncherContext& c) { return lookupValue(c, "maxjre", false, true); }
std::string mainArgvValue(const LauncherContext& c) {
  return lookupValue(c, "mainargv", false, true);
}
std::string stopTimeoutValue(const LauncherContext& c) {
  return lookupValue(c, "stoptimeout", false, true);
}

std::string stdoutValue(const LauncherContext& c, Os& os) {
  return expandValue(c, os, lookupValue(c, "stdout", false, true), false);
}
std::string stderrValue(const LauncherContext& c, Os& os) {
  return expandValue(c, os, lookupValue(c, "stderr", false, true), false);
}
std::string forceCwdValue(const LauncherContext& c, Os& os) {
  return expandValue(c, os, lookupValue(c, "forcecwd", false, true), false);
}

void argvValues(const LauncherContext& c, StringList& list, Os& os) {
  lookupValues(
      c, "argv", [&](const std::string& value) { expandLine(c, os, list, value); }, false, true);
}

}  // namespace qlx
