// The key table and the configuration check. Lines are split into key and
// value exactly as the launcher's lookup does (leading spaces, the key's
// letters, digits and '_', then spaces and an optional '='), so what is
// reported here is what the launcher would do with the line.
#include "tools/qlxwrap/config_check.h"

#include <algorithm>
#include <cstdio>

#include "instances/instance_filter.h"
#include "redirect/log_rotation.h"
#include "service/nearest_word.h"
#include "service/stop_timeout.h"

namespace qlx::wrap {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isWordChar(char c) {
  return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

std::string lowered(std::string s) {
  for (char& c : s) c = lower(c);
  return s;
}

bool oneOf(const std::string& value, std::initializer_list<const char*> words) {
  const std::string v = lowered(value);
  for (const char* w : words)
    if (v == w) return true;
  return false;
}

// 1 to 4 numbers joined by '.' or '_': 17, 1.8, 1.8.0_392, 21.0.2.
bool isVersion(const std::string& v) {
  int numbers = 0;
  size_t i = 0;
  while (i < v.size()) {
    if (!isDigit(v[i])) return false;
    while (i < v.size() && isDigit(v[i])) ++i;
    ++numbers;
    if (i == v.size()) break;
    if (v[i] != '.' && v[i] != '_') return false;
    if (++i == v.size()) return false;
  }
  return numbers >= 1 && numbers <= 4;
}

bool isSearchOrder(const std::string& v) {
  return !v.empty() && std::all_of(v.begin(), v.end(), [](char c) {
    return std::string("cbsiev").find(lower(c)) != std::string::npos;
  });
}

bool isSingleInstance(const std::string& v) { return oneOf(v, {"true", "handover", "custom", "false"}); }
bool isWildcard(const std::string& v) { return oneOf(v, {"true", "auto", "all", "false"}); }
bool isTrueFalse(const std::string& v) { return oneOf(v, {"true", "false"}); }

// The service reads it without its trailing spaces.
bool isArgumentSources(const std::string& v) {
  std::string t = v;
  while (!t.empty() && t.back() == ' ') t.pop_back();
  return oneOf(t, {"c", "s", "cs", "sc"});
}

bool isSeconds(const std::string& v) {
  return !v.empty() && v.size() <= 9 && std::all_of(v.begin(), v.end(), isDigit) &&
         std::stol(v) > 0 && std::stol(v) <= static_cast<long>(kMaxStopTimeoutSeconds);
}

// The receiver's own grammar, so the generator accepts exactly the filters
// the launcher's receiver does.
bool isFilterPattern(const std::string& v) { return instanceFilterProblem(v).empty(); }

// The rotation keys are read with the launcher's own parsers, so the
// generator and the launcher cannot disagree on a value.
bool isRotateTriggers(const std::string& v) {
  RotationPolicy policy;
  return parseRotateTriggers(v, policy);
}
bool isKeepCount(const std::string& v) {
  int count = 0;
  return parseCount(v, count);
}
bool isAge(const std::string& v) {
  int64_t seconds = 0;
  return parseDuration(v, seconds);
}

// Every key the launcher reads: name, embedded only, many values, and for a
// value of a fixed form the words of the error and the check. A new key is
// one line here. Keys with a fixed form first, then the free ones.
const std::vector<ConfigKey> kKeys = {
    {"minjre", false, false, "a Java version: 1 to 4 numbers joined by '.' or '_' (17, 1.8.0_392)", isVersion},
    {"maxjre", false, false, "a Java version: 1 to 4 numbers joined by '.' or '_' (17, 1.8.0_392)", isVersion},
    {"jre_order", false, false, "letters of \"cbsiev\"", isSearchOrder},
    {"singleinstance", false, false, "true, handover, custom or false", isSingleInstance},
    {"wildcard", false, false, "true, auto, all or false", isWildcard},
    {"mainargv", false, false, "c, s, cs or sc", isArgumentSources},
    {"disableexternal", true, false, "true or false", isTrueFalse},
    {"stoptimeout", false, false, "a whole number of seconds from 1 to 3600", isSeconds},
    {"instancefilter", false, false, "class patterns (a.B, a.*, a.**, a.B*, *; ! refuses) and limits (maxdepth=, maxrefs=, maxarray=, maxbytes= and a number) separated by ';', with at least one pattern, such as com.example.**;!*", isFilterPattern},
    {"classdata", false, false, nullptr, nullptr},  // auto, off or a folder
    {"logrotate", false, false, "a size such as 10M, daily or start (several: comma-separated)", isRotateTriggers},
    {"logkeep", false, false, "a whole number from 0 to 9999", isKeepCount},
    {"logmaxage", false, false, "an age such as 30d, 12h, 90m, 45s or 2w", isAge},
    {"appid", false, false, nullptr, nullptr},
    {"argv", false, true, nullptr, nullptr},
    {"classpath", false, true, nullptr, nullptr},
    {"export", false, true, nullptr, nullptr},
    {"forcecwd", false, false, nullptr, nullptr},
    {"java_classpath", false, true, nullptr, nullptr},
    {"java_libs", false, true, nullptr, nullptr},
    {"jre", false, false, nullptr, nullptr},
    {"jvmdll", false, false, nullptr, nullptr},
    {"libs", false, true, nullptr, nullptr},
    {"mainclass", true, false, nullptr, nullptr},
    {"message", false, true, nullptr, nullptr},
    {"option", false, true, nullptr, nullptr},
    {"options", false, true, nullptr, nullptr},
    {"property", false, true, nullptr, nullptr},
    {"stderr", false, false, nullptr, nullptr},
    {"stdout", false, false, nullptr, nullptr},
    {"vm", false, false, nullptr, nullptr},
};

const ConfigKey* findKey(const std::string& word) {
  const std::string w = lowered(word);
  for (const ConfigKey& k : kKeys)
    if (w == k.name) return &k;
  return nullptr;
}

void add(std::vector<ConfigFinding>& out, int line, Finding id,
         std::initializer_list<std::string> values = {}) {
  out.push_back(ConfigFinding{id, findingText(id).severity == Severity::Error, line,
                              findingMessage(id, values)});
}

// One option line is one VM option, exactly as written: quotes do not group
// and are not removed, so a quoted line is a mistake in every VM's eyes.
std::string withoutQuotes(const std::string& value) {
  std::string out;
  for (char c : value)
    if (c != '"') out += c;
  return out;
}

// A configuration line split the way the launcher's lookup splits it.
struct KeyLine {
  std::string word;   // empty: the line belongs to no key
  std::string value;
};

KeyLine splitLine(const std::string& line) {
  KeyLine out;
  size_t i = line.find_first_not_of(' ');
  if (i == std::string::npos) return out;
  size_t k = i;
  while (k < line.size() && isWordChar(line[k])) ++k;
  // Lines that start with anything else (# or ; comments) belong to no key.
  if (k == i) return out;
  out.word = line.substr(i, k - i);
  size_t v = line.find_first_not_of(' ', k);
  if (v != std::string::npos && line[v] == '=') v = line.find_first_not_of(' ', v + 1);
  out.value = v == std::string::npos ? std::string() : line.substr(v);
  return out;
}

// Calls onLine(number, line) for every line, numbered from 1.
template <typename OnLine>
void forEachLine(const std::string& text, OnLine onLine) {
  size_t pos = 0;
  int number = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    pos = end + (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n' ? 2 : 1);
    if (!onLine(++number, line)) return;
  }
}

}  // namespace

const std::vector<ConfigKey>& configKeys() { return kKeys; }

std::string nearestKey(const std::string& word) {
  const std::string w = lowered(word);
  const ConfigKey* best = &kKeys.front();
  size_t bestDistance = SIZE_MAX;
  for (const ConfigKey& k : kKeys) {
    const size_t d = editDistanceIgnoreCase(w, k.name);
    if (d < bestDistance) best = &k, bestDistance = d;
  }
  return best->name;
}

std::string firstValue(const std::string& text, const std::string& key) {
  std::string value;
  forEachLine(text, [&](int, const std::string& line) {
    const KeyLine split = splitLine(line);
    if (split.word.empty() || lowered(split.word) != lowered(key)) return true;
    value = split.value;
    return false;
  });
  return value;
}

std::vector<ConfigFinding> checkConfig(const std::string& text, ConfigRole role) {
  std::vector<ConfigFinding> out;
  std::vector<std::pair<const ConfigKey*, int>> seen;  // one-valued keys: first line
  bool mainClassSet = false;
  forEachLine(text, [&](int number, const std::string& line) {
    const KeyLine split = splitLine(line);
    if (split.word.empty()) return true;
    const std::string& word = split.word;
    const std::string& value = split.value;

    const ConfigKey* key = findKey(word);
    if (key == nullptr) {
      add(out, number, Finding::UnknownKey, {printable(word), nearestKey(word)});
      return true;
    }
    const std::string name = key->name;
    if (role == ConfigRole::External && key->embeddedOnly) {
      add(out, number, Finding::EmbeddedOnlyKey, {name});
      return true;
    }
    if (!key->manyValues) {
      auto first = std::find_if(seen.begin(), seen.end(),
                                [&](const auto& s) { return s.first == key; });
      if (first != seen.end()) {
        add(out, number, Finding::SetAgain, {name, std::to_string(first->second)});
        return true;
      }
      seen.emplace_back(key, number);
    }
    if (key->valid != nullptr && !value.empty() && !key->valid(value))
      add(out, number, Finding::UnreadableValue, {name, printable(value), key->form});
    if (name == "option" && value.find('"') != std::string::npos)
      add(out, number, Finding::QuotedOption, {printable(value), printable(withoutQuotes(value))});
    if (name == "mainclass" && !value.empty()) mainClassSet = true;
    return true;
  });
  if (role == ConfigRole::Embedded && !mainClassSet) add(out, 0, Finding::NoMainClass);
  return out;
}

std::string findingText(const ConfigFinding& f) {
  return (f.line > 0 ? "line " + std::to_string(f.line) + ": " : std::string()) + f.message;
}

std::string printable(const std::string& text) {
  std::string out;
  char buffer[12];
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    if (b >= 0x20 && b < 0x7F) {
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    // Decode one UTF-8 sequence; anything malformed is shown byte by byte.
    int extra = b >= 0xF0 && b < 0xF5 ? 3 : b >= 0xE0 && b < 0xF0 ? 2 : b >= 0xC2 && b < 0xE0 ? 1 : -1;
    char32_t c = extra == 3 ? b & 0x07 : extra == 2 ? b & 0x0F : b & 0x1F;
    for (int n = 1; extra > 0 && n <= extra; ++n) {
      const unsigned char next = i + n < text.size() ? static_cast<unsigned char>(text[i + n]) : 0;
      if ((next & 0xC0) != 0x80) {
        extra = -1;
        break;
      }
      c = c << 6 | (next & 0x3F);
    }
    if (extra > 0 && ((extra == 2 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) ||
                      (extra == 3 && (c < 0x10000 || c > 0x10FFFF))))
      extra = -1;
    if (extra <= 0) {
      std::snprintf(buffer, sizeof buffer, "\\x%02X", b);
      out += buffer;
      ++i;
      continue;
    }
    // C1 controls, zero-width and direction marks, line and paragraph
    // separators, and the byte order mark change what a terminal shows.
    const bool hidden = c < 0xA0 || c == 0xAD || (c >= 0x200B && c <= 0x200F) ||
                        (c >= 0x2028 && c <= 0x202E) || (c >= 0x2060 && c <= 0x206F) ||
                        c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB);
    if (hidden) {
      std::snprintf(buffer, sizeof buffer, "\\u%04X", static_cast<unsigned>(c));
      out += buffer;
    } else {
      out.append(text, i, static_cast<size_t>(extra) + 1);
    }
    i += static_cast<size_t>(extra) + 1;
  }
  return out;
}

}  // namespace qlx::wrap
