// Install-time settings: parsing of the stored defaults and of the /install
// switches, shared with qlxwrap so a program can never carry a setting its
// own launcher would refuse.
#include "service/install_settings.h"

#include "launcher/text.h"
#include "service/nearest_word.h"

namespace qlx {
namespace {

bool parseSeconds(std::string_view text, uint32_t& value) {
  if (text.empty() || text.size() > 9) return false;
  uint32_t result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + static_cast<uint32_t>(c - '0');
  }
  value = result;
  return true;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

bool isOff(std::string_view text) {
  for (const char* word : {"none", "off", "no", "false", "0"})
    if (equalsIgnoreCase(text, word)) return true;
  return false;
}

bool parseYesNo(std::string_view text, bool& value) {
  for (const char* word : {"yes", "on", "true", "1"}) {
    if (equalsIgnoreCase(text, word)) {
      value = true;
      return true;
    }
  }
  if (equalsIgnoreCase(text, "none") || !isOff(text)) return false;
  value = false;
  return true;
}

}  // namespace

bool parseStartType(std::string_view text, StartType& type) {
  struct Word {
    const char* text;
    StartType type;
  };
  static const Word kWords[] = {
      {"auto", StartType::Auto},          {"automatic", StartType::Auto},
      {"delayed", StartType::DelayedAuto}, {"delayed-auto", StartType::DelayedAuto},
      {"manual", StartType::Manual},      {"demand", StartType::Manual},
      {"disabled", StartType::Disabled},
  };
  for (const Word& word : kWords) {
    if (equalsIgnoreCase(text, word.text)) {
      type = word.type;
      return true;
    }
  }
  return false;
}

const char* startTypeWord(StartType type) {
  switch (type) {
    case StartType::Auto: return "automatic";
    case StartType::DelayedAuto: return "delayed automatic";
    case StartType::Manual: return "manual";
    case StartType::Disabled: return "disabled";
  }
  return "manual";
}

bool parseRecovery(std::string_view text, RecoverySettings& recovery, std::string* why) {
  text = trimmed(text);
  if (isOff(text)) {
    recovery = RecoverySettings{};
    return true;
  }
  RecoverySettings parsed;
  uint32_t* fields[] = {&parsed.delaySeconds, &parsed.count, &parsed.resetSeconds};
  size_t field = 0;
  while (true) {
    const size_t slash = text.find('/');
    if (field == 3 || !parseSeconds(text.substr(0, slash), *fields[field])) {
      if (why != nullptr) *why = "DELAY[/COUNT[/RESET]], seconds";
      return false;
    }
    ++field;
    if (slash == std::string_view::npos) break;
    text.remove_prefix(slash + 1);
  }
  // Bounded before anything is built from them: the delay becomes
  // milliseconds in 32 bits, the count the length of the action list.
  if (parsed.delaySeconds > kMaxRecoveryDelaySeconds) {
    if (why != nullptr) *why = "DELAY is at most 86400";
    return false;
  }
  if (parsed.count == 0 || parsed.count > kMaxRecoveryCount) {
    if (why != nullptr) *why = "COUNT is 1 to 1023";
    return false;
  }
  parsed.enabled = true;
  recovery = parsed;
  return true;
}

const char* startTypeSwitchWord(StartType type) {
  switch (type) {
    case StartType::Auto: return "auto";
    case StartType::DelayedAuto: return "delayed";
    case StartType::Manual: return "manual";
    case StartType::Disabled: return "disabled";
  }
  return "manual";
}

std::string serviceAccountName(std::string_view given, std::string_view serviceName) {
  given = trimmed(given);
  if (given.empty() || equalsIgnoreCase(given, "LocalSystem") ||
      equalsIgnoreCase(given, ".\\LocalSystem"))
    return std::string();
  if (equalsIgnoreCase(given, "LocalService")) return "NT AUTHORITY\\LocalService";
  if (equalsIgnoreCase(given, "NetworkService")) return "NT AUTHORITY\\NetworkService";
  if (equalsIgnoreCase(given, "virtual")) return "NT SERVICE\\" + std::string(serviceName);
  if (given.find('\\') == std::string_view::npos && given.find('@') == std::string_view::npos)
    return ".\\" + std::string(given);
  return std::string(given);
}

bool accountNeedsPassword(std::string_view accountName) {
  if (accountName.empty()) return false;
  return !startsWithIgnoreCase(accountName, "NT AUTHORITY\\") &&
         !startsWithIgnoreCase(accountName, "NT SERVICE\\");
}

const char* builtInAccountNear(std::string_view given) {
  static const char* const kBuiltIn[] = {"LocalSystem", "LocalService", "NetworkService",
                                         "virtual", nullptr};
  given = trimmed(given);
  if (given.empty() || given.find('\\') != std::string_view::npos ||
      given.find('@') != std::string_view::npos)
    return nullptr;
  size_t distance = 0;
  const char* near = nearestWord(given, kBuiltIn, distance);
  return distance >= 1 && distance <= 2 ? near : nullptr;
}

bool applyStoredSettings(std::string_view text, InstallSettings& settings, std::string& bad,
                         std::string* why) {
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = trimmed(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty()) continue;
    const size_t eq = line.find('=');
    const std::string_view key = eq == std::string_view::npos ? line : trimmed(line.substr(0, eq));
    const std::string_view value =
        eq == std::string_view::npos ? std::string_view() : trimmed(line.substr(eq + 1));
    bool ok = eq != std::string_view::npos;
    if (ok && equalsIgnoreCase(key, "start")) {
      ok = parseStartType(value, settings.startType);
    } else if (ok && equalsIgnoreCase(key, "account")) {
      settings.account = std::string(value);
      if (const char* near = builtInAccountNear(value)) {
        ok = false;
        if (why != nullptr) *why = std::string("did you mean ") + near + "?";
      }
    } else if (ok && equalsIgnoreCase(key, "recovery")) {
      ok = parseRecovery(value, settings.recovery, why);
    } else if (ok && equalsIgnoreCase(key, "failonexit")) {
      ok = parseYesNo(value, settings.failOnExit);
      settings.failOnExitGiven = ok;
    } else {
      ok = false;
    }
    if (!ok) {
      bad = std::string(line);
      return false;
    }
  }
  return true;
}

}  // namespace qlx
