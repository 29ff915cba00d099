// Rotation policy, rotated names and retention: the rules that do not touch
// a file, so that the host tests can drive them with plain data.
#include "redirect/log_rotation.h"

#include <algorithm>
#include <ctime>
#include <atomic>

#include "launcher/text.h"

namespace qlx {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

// Leading decimal digits as a number no larger than `limit`; false when
// there are none or the number is larger.
bool leadingNumber(std::string_view& text, uint64_t limit, uint64_t& value) {
  size_t i = 0;
  value = 0;
  while (i < text.size() && isDigit(text[i])) {
    uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (value > (limit - digit) / 10) return false;
    value = value * 10 + digit;
    ++i;
  }
  if (i == 0) return false;
  text.remove_prefix(i);
  return true;
}

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Digits only, at least one, fitting in an int.
bool allDigits(std::string_view text, int& value) {
  uint64_t number = 0;
  std::string_view rest = text;
  if (!leadingNumber(rest, 0x7FFFFFFF, number) || !rest.empty()) return false;
  value = static_cast<int>(number);
  return true;
}

}  // namespace

bool parseSize(std::string_view text, uint64_t& bytes) {
  text = trimmed(text);
  uint64_t number = 0;
  if (!leadingNumber(text, UINT64_MAX, number) || number == 0) return false;
  uint64_t unit = 1;
  if (!text.empty()) {
    switch (lowerAscii(text.front())) {
      case 'k': unit = 1ull << 10; text.remove_prefix(1); break;
      case 'm': unit = 1ull << 20; text.remove_prefix(1); break;
      case 'g': unit = 1ull << 30; text.remove_prefix(1); break;
      default: break;
    }
  }
  if (!text.empty() && lowerAscii(text.front()) == 'b') text.remove_prefix(1);
  if (!text.empty() || number > UINT64_MAX / unit) return false;
  bytes = number * unit;
  return true;
}

bool parseCount(std::string_view text, int& count) {
  text = trimmed(text);
  uint64_t number = 0;
  if (!leadingNumber(text, 9999, number) || !text.empty()) return false;
  count = static_cast<int>(number);
  return true;
}

bool parseDuration(std::string_view text, int64_t& seconds) {
  text = trimmed(text);
  uint64_t number = 0;
  // Ten years in weeks still fits comfortably; larger ages mean nothing here.
  if (!leadingNumber(text, 100000, number) || number == 0) return false;
  uint64_t unit = 86400;
  if (!text.empty()) {
    switch (lowerAscii(text.front())) {
      case 's': unit = 1; break;
      case 'm': unit = 60; break;
      case 'h': unit = 3600; break;
      case 'd': unit = 86400; break;
      case 'w': unit = 7 * 86400; break;
      default: return false;
    }
    text.remove_prefix(1);
  }
  if (!text.empty()) return false;
  seconds = static_cast<int64_t>(number * unit);
  return true;
}

bool parseRotateTriggers(std::string_view text, RotationPolicy& policy) {
  RotationPolicy result = policy;
  result.maxBytes = 0;
  result.daily = false;
  result.atStart = false;
  bool any = false;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ',' || text[i] == ' ' || text[i] == '\t')) ++i;
    size_t end = i;
    while (end < text.size() && text[end] != ',' && text[end] != ' ' && text[end] != '\t') ++end;
    std::string_view item = trimmed(text.substr(i, end - i));
    i = end;
    if (item.empty()) continue;
    if (equalsAsciiIgnoreCase(item, "daily")) {
      result.daily = true;
    } else if (equalsAsciiIgnoreCase(item, "start")) {
      result.atStart = true;
    } else if (!parseSize(item, result.maxBytes)) {
      return false;
    }
    any = true;
  }
  if (!any) return false;
  policy = result;
  return true;
}

RotationPolicy rotationPolicy(const std::string& rotate, const std::string& keep,
                              const std::string& maxAge, std::string& problem) {
  RotationPolicy policy;
  problem.clear();
  if (trimmed(rotate).empty()) return policy;
  if (!parseRotateTriggers(rotate, policy)) {
    problem = "logrotate \"" + rotate + "\" is not a size (such as 10M), daily or start";
  } else if (!trimmed(keep).empty() && !parseCount(keep, policy.keep)) {
    problem = "logkeep \"" + keep + "\" is not a number from 0 to 9999";
  } else if (!trimmed(maxAge).empty() && !parseDuration(maxAge, policy.maxAgeSeconds)) {
    problem = "logmaxage \"" + maxAge + "\" is not an age such as 30d, 12h or 2w";
  }
  if (!problem.empty()) {
    problem = "Log rotation is off: " + problem + ".";
    return RotationPolicy();
  }
  return policy;
}

std::string LocalDay::text() const {
  // Formatted by hand: the printf family would pull the runtime's whole
  // formatter into the Windows executable.
  std::string out = "0000-00-00";
  auto put = [&out](size_t end, int digits, int value) {
    value = value < 0 ? 0 : value;
    for (int i = 0; i < digits; ++i, value /= 10) out[end - 1 - i] = static_cast<char>('0' + value % 10);
  };
  put(4, 4, year);
  put(7, 2, month);
  put(10, 2, day);
  return out;
}

LocalDay localDayOf(int64_t unixSeconds) {
  // localtime's result is shared; the rotating threads of both streams may
  // ask at once.
  static std::atomic_flag busy = ATOMIC_FLAG_INIT;
  while (busy.test_and_set(std::memory_order_acquire)) {
  }
  std::time_t t = static_cast<std::time_t>(unixSeconds);
  const std::tm* parts = std::localtime(&t);
  LocalDay day = parts == nullptr ? LocalDay{1970, 1, 1}
                                  : LocalDay{parts->tm_year + 1900, parts->tm_mon + 1, parts->tm_mday};
  busy.clear(std::memory_order_release);
  return day;
}

bool parseRotatedName(const std::string& base, const std::string& name, RotatedName& out) {
  if (name.size() <= base.size() + 1 || name.compare(0, base.size(), base) != 0 ||
      name[base.size()] != '.') {
    return false;
  }
  std::string_view rest(name);
  rest.remove_prefix(base.size() + 1);
  int number = 0;
  if (allDigits(rest, number)) {
    if (number < 1) return false;
    out = RotatedName{false, number, 0};
    return true;
  }
  // yyyy-mm-dd, optionally followed by ".n"
  if (rest.size() < 10 || rest[4] != '-' || rest[7] != '-') return false;
  int year = 0, month = 0, day = 0;
  if (!allDigits(rest.substr(0, 4), year) || !allDigits(rest.substr(5, 2), month) ||
      !allDigits(rest.substr(8, 2), day) || month < 1 || month > 12 || day < 1 || day > 31) {
    return false;
  }
  number = 0;
  if (rest.size() > 10) {
    if (rest[10] != '.' || !allDigits(rest.substr(11), number) || number < 1) return false;
  }
  out = RotatedName{true, number, LocalDay{year, month, day}.key()};
  return true;
}

std::string numberedName(const std::string& path, int number) {
  return path + "." + decimalText(number);
}

std::string datedName(const std::string& path, const LocalDay& day, int number) {
  std::string name = path + "." + day.text();
  if (number > 0) name += "." + decimalText(number);
  return name;
}

std::vector<FileStep> numberedShift(const std::string& path, int keep,
                                    const FunctionRef<bool(const std::string&)>& exists) {
  std::vector<FileStep> steps;
  if (keep <= 0) {
    // Nothing is kept; the file is still renamed first so that a new one
    // can be created under its name at once.
    steps.push_back({path, numberedName(path, 1)});
    steps.push_back({numberedName(path, 1), ""});
    return steps;
  }
  // Only the run of files from .1 up moves: a gap means nothing above it
  // would be overwritten.
  int last = 0;
  while (last < keep && exists(numberedName(path, last + 1))) ++last;
  if (last == keep) {
    steps.push_back({numberedName(path, keep), ""});
    --last;
  }
  for (int n = last; n >= 1; --n) steps.push_back({numberedName(path, n), numberedName(path, n + 1)});
  steps.push_back({path, numberedName(path, 1)});
  return steps;
}

std::vector<std::string> retentionVictims(const std::string& base,
                                          const std::vector<FoundFile>& found,
                                          const RotationPolicy& policy, int64_t now) {
  struct Entry {
    RotatedName name;
    const FoundFile* file;
  };
  // Newest first: numbered by their number, dated by day and then by the
  // number of the rotation within the day. A folder holds few rotated
  // files, so each is inserted in place as it is found.
  const auto newer = [](const RotatedName& a, const RotatedName& b) {
    if (!a.dated) return a.number < b.number;
    if (a.dayKey != b.dayKey) return a.dayKey > b.dayKey;
    return a.number > b.number;
  };
  std::vector<Entry> numbered, dated;
  for (const FoundFile& file : found) {
    RotatedName name;
    if (!parseRotatedName(base, file.name, name)) continue;
    std::vector<Entry>& list = name.dated ? dated : numbered;
    list.push_back({name, &file});
    for (size_t i = list.size() - 1; i > 0 && newer(list[i].name, list[i - 1].name); --i)
      std::swap(list[i], list[i - 1]);
  }
  std::vector<std::string> victims;
  for (const auto* list : {&numbered, &dated}) {
    for (size_t i = 0; i < list->size(); ++i) {
      const FoundFile& file = *(*list)[i].file;
      bool tooMany = i >= static_cast<size_t>(std::max(policy.keep, 0));
      bool tooOld = policy.maxAgeSeconds > 0 && now - file.modified > policy.maxAgeSeconds;
      if (tooMany || tooOld) victims.push_back(file.name);
    }
  }
  return victims;
}

size_t bytesBeforeCheck(const char* data, size_t length) {
  for (size_t i = length; i > 0; --i) {
    if (data[i - 1] == '\n') return i;
  }
  return length;
}

std::string folderOf(const std::string& path) {
  PathSplit split = splitNarrowPath(path, isNarrowLeadByte);
  if (split.lastSeparator == std::string_view::npos) return std::string();
  return path.substr(0, split.lastSeparator + 1);
}

std::string fileNameOf(const std::string& path) {
  PathSplit split = splitNarrowPath(path, isNarrowLeadByte);
  if (split.lastSeparator == std::string_view::npos) return path;
  return path.substr(split.lastSeparator + 1);
}

}  // namespace qlx
