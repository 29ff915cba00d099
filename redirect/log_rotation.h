// Rotation of the log files that standard output and standard error are
// redirected into: the policy read from the `logrotate`, `logkeep` and
// `logmaxage` keys, the names rotated files get, which old files retention
// removes, and where in a stream of output a rotation may happen.
//
// Everything here is portable. The files themselves are moved and the
// output is carried from a pipe into them by rotating_log_win.cpp /
// rotating_log_posix.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/function_ref.h"

namespace qlx {

struct RotationPolicy {
  uint64_t maxBytes = 0;      // 0: no size limit
  bool daily = false;         // a new file for each local day
  bool atStart = false;       // a new file for each run of the program
  int keep = 5;               // rotated files kept, newest first
  int64_t maxAgeSeconds = 0;  // 0: rotated files are not removed for their age

  bool enabled() const { return maxBytes != 0 || daily || atStart; }
};

// "10M", "512k", "1G", "4096" (bytes); units K, M, G are powers of 1024,
// an optional trailing "B" is accepted. False for anything else, for 0 and
// for sizes that do not fit.
bool parseSize(std::string_view text, uint64_t& bytes);
// A whole number from 0 to 9999.
bool parseCount(std::string_view text, int& count);
// "30d", "12h", "90m", "45s", "2w"; a bare number means days.
bool parseDuration(std::string_view text, int64_t& seconds);
// The `logrotate` value: one or more of a size, "daily" and "start",
// separated by commas or spaces. Leaves `policy` unchanged when false.
bool parseRotateTriggers(std::string_view text, RotationPolicy& policy);

// The whole policy from the three key values. A value that cannot be read
// switches rotation off (`policy.enabled()` false) and gives a one-line
// complaint in `problem`; empty values keep the defaults.
RotationPolicy rotationPolicy(const std::string& rotate, const std::string& keep,
                              const std::string& maxAge, std::string& problem);

// Calendar day in local time, e.g. {2026, 12, 8}; `key` orders days.
struct LocalDay {
  int year = 0, month = 0, day = 0;
  int key() const { return (year * 100 + month) * 100 + day; }
  std::string text() const;  // "2026-12-08"
};
LocalDay localDayOf(int64_t unixSeconds);

// A rotated file: "app.log.3" (numbered) or "app.log.2026-12-08" and, when
// a day is rotated more than once, "app.log.2026-12-08.2" (dated).
struct RotatedName {
  bool dated = false;
  int number = 0;   // numbered: 1 is the newest; dated: 0 for the first of the day
  int dayKey = 0;   // dated only
};
// Recognises `name` as a rotated file of the log whose file name is `base`.
bool parseRotatedName(const std::string& base, const std::string& name, RotatedName& out);
std::string numberedName(const std::string& path, int number);
std::string datedName(const std::string& path, const LocalDay& day, int number);

// One step of a rotation: `to` empty means remove `from`.
struct FileStep {
  std::string from, to;
};
// Numbered rotation of `path`: make room for it as "path.1", dropping what
// falls beyond `keep` (`exists` tells which numbered files are there).
std::vector<FileStep> numberedShift(const std::string& path, int keep,
                                    const FunctionRef<bool(const std::string&)>& exists);

// A rotated file found beside the log: name relative to the folder and its
// last write time.
struct FoundFile {
  std::string name;
  int64_t modified = 0;
};
// The rotated files that retention removes: beyond the newest `keep`, or
// older than the age limit at `now`.
std::vector<std::string> retentionVictims(const std::string& base,
                                          const std::vector<FoundFile>& found,
                                          const RotationPolicy& policy, int64_t now);

// Splits output into the part that may be written before a rotation check
// and the rest: a rotation only ever happens between two lines, so a line
// is never split across files. Returns how many bytes of `data` to write
// before the next check: up to and including the last line end, or all of
// it when it has none.
size_t bytesBeforeCheck(const char* data, size_t length);

// Directory part and file part of a path ('/' or '\\' separate).
std::string folderOf(const std::string& path);
std::string fileNameOf(const std::string& path);

}  // namespace qlx
