// Configuration lookups. The text is scanned line by line on every read;
// configurations are small and read-only after start-up, so there is no
// index to keep in step with it.
#include "launcher/config.h"

#include <cctype>

#include "launcher/expand.h"

namespace qlx {
namespace {

// The line starts with `key`, and the key does not go on (option_x and
// options are not option).
bool belongsTo(std::string_view line, std::string_view key) {
  if (!startsWithIgnoreCase(line, key)) return false;
  if (line.size() == key.size()) return true;
  const unsigned char next = static_cast<unsigned char>(line[key.size()]);
  return !(std::isalnum(next) || next == '_');
}

// Calls onValue(index, value) for every line that belongs to keys[index];
// stops early when onValue returns false.
template <typename OnValue>
void scanKeys(const LauncherContext& context, std::initializer_list<std::string_view> keys,
              bool embeddedOnly, OnValue onValue) {
  std::string_view text(context.configText);
  size_t pos = embeddedOnly ? context.externalLength : 0;
  if (pos > text.size()) pos = text.size();
  const size_t nul = text.find('\0', pos);
  const size_t end = nul == std::string_view::npos ? text.size() : nul;

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
    size_t index = 0;
    std::string_view key;
    for (std::string_view candidate : keys) {
      if (!candidate.empty() && belongsTo(line, candidate)) {
        key = candidate;
        break;
      }
      ++index;
    }
    if (index == keys.size()) continue;
    std::string_view value = line.substr(key.size());
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    if (!value.empty() && value.front() == '=') {
      value.remove_prefix(1);
      while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    }
    if (!onValue(index, value)) return;
  }
}

std::string prepare(std::string_view value, bool toNarrow) {
  return toNarrow ? utf8ToNarrow(value) : std::string(value);
}

}  // namespace

std::string lookupValue(const LauncherContext& context, std::string_view key, bool embeddedOnly,
                        bool toNarrow) {
  std::string result;
  scanKeys(context, {key}, embeddedOnly, [&](size_t, std::string_view value) {
    result = prepare(value, toNarrow);
    return false;
  });
  return result;
}

void lookupValues(const LauncherContext& context, std::string_view key, const ValueHandler& handler,
                  bool embeddedOnly, bool toNarrow) {
  scanKeys(context, {key}, embeddedOnly, [&](size_t, std::string_view value) {
    handler(prepare(value, toNarrow));
    return true;
  });
}

void lookupValuesOfKeys(const LauncherContext& context, std::initializer_list<std::string_view> keys,
                        const KeyedValueHandler& handler, bool embeddedOnly, bool toNarrow) {
  scanKeys(context, keys, embeddedOnly, [&](size_t index, std::string_view value) {
    handler(index, prepare(value, toNarrow));
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

std::string logRotateValue(const LauncherContext& c) {
  return lookupValue(c, "logrotate", false, true);
}
std::string logKeepValue(const LauncherContext& c) { return lookupValue(c, "logkeep", false, true); }
std::string logMaxAgeValue(const LauncherContext& c) {
  return lookupValue(c, "logmaxage", false, true);
}

void argvValues(const LauncherContext& c, StringList& list, Os& os) {
  lookupValues(
      c, "argv", [&](const std::string& value) { expandLine(c, os, list, value); }, false, true);
}

}  // namespace qlx
