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

// The text a lookup reads: up to its first NUL.
std::string_view lookupText(std::string_view text) { return text.substr(0, text.find('\0')); }

// The line at `pos` without its leading spaces; moves `pos` past its end
// (CR, LF, CR LF or LF CR).
std::string_view readConfigLine(std::string_view text, size_t& pos) {
  const size_t end = text.size();
  size_t lineEnd = pos;
  while (lineEnd < end && text[lineEnd] != '\r' && text[lineEnd] != '\n') ++lineEnd;
  std::string_view line = text.substr(pos, lineEnd - pos);
  pos = lineEnd;
  if (pos < end) {
    const char first = text[pos++];
    if (pos < end && (text[pos] == '\r' || text[pos] == '\n') && text[pos] != first) ++pos;
  }
  size_t i = 0;
  while (i < line.size() && line[i] == ' ') ++i;
  return line.substr(i);
}

// Calls onValue(index, value) for every line that belongs to keys[index];
// stops early when onValue returns false.
template <typename OnValue>
void scanKeys(const LauncherContext& context, std::initializer_list<std::string_view> keys,
              bool embeddedOnly, OnValue onValue) {
  size_t start = embeddedOnly ? context.externalLength : 0;
  if (start > context.configText.size()) start = context.configText.size();
  const std::string_view text = lookupText(std::string_view(context.configText).substr(start));

  size_t pos = 0;
  while (pos < text.size()) {
    std::string_view line = readConfigLine(text, pos);
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

// The next line that an external file could contribute: not empty, and not
// of a key that only the embedded block sets. Empty at the end.
std::string_view nextContributingLine(std::string_view text, size_t& pos) {
  while (pos < text.size()) {
    const std::string_view line = readConfigLine(text, pos);
    if (!line.empty() && !belongsTo(line, "mainclass") && !belongsTo(line, "disableexternal"))
      return line;
  }
  return {};
}

}  // namespace

bool sameConfiguration(std::string_view a, std::string_view b) {
  a = lookupText(a);
  b = lookupText(b);
  size_t posA = 0, posB = 0;
  for (;;) {
    const std::string_view lineA = nextContributingLine(a, posA);
    const std::string_view lineB = nextContributingLine(b, posB);
    if (lineA != lineB) return false;
    if (lineA.empty()) return true;
  }
}

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
