// Rotation of redirected logs: reading the keys' values, the rotated names,
// retention, and RotatingLog driven over files held in memory, where time,
// other processes and failing renames are under the test's control.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "redirect/log_rotation.h"
#include "redirect/rotating_log.h"

namespace qlx {
namespace {

TEST(LogRotationValues, Sizes) {
  struct Case {
    const char* text;
    bool ok;
    uint64_t bytes;
  };
  const Case cases[] = {
      {"10M", true, 10ull << 20},         {"10m", true, 10ull << 20},
      {"512k", true, 512ull << 10},       {"512KB", true, 512ull << 10},
      {"1G", true, 1ull << 30},           {"4096", true, 4096},
      {" 2M ", true, 2ull << 20},         {"1b", true, 1},
      {"0", false, 0},                    {"0M", false, 0},
      {"", false, 0},                     {"M", false, 0},
      {"10 M", false, 0},                 {"10T", false, 0},
      {"-5M", false, 0},                  {"1.5M", false, 0},
      {"10MB2", false, 0},                {"18446744073709551615", true, 18446744073709551615ull},
      {"18446744073709551616", false, 0}, {"17179869184G", false, 0},
  };
  for (const Case& c : cases) {
    uint64_t bytes = 0;
    EXPECT_EQ(parseSize(c.text, bytes), c.ok) << c.text;
    if (c.ok) EXPECT_EQ(bytes, c.bytes) << c.text;
  }
}

TEST(LogRotationValues, CountsAndAges) {
  struct Case {
    const char* text;
    bool countOk;
    int count;
    bool ageOk;
    int64_t seconds;
  };
  const Case cases[] = {
      {"7", true, 7, true, 7 * 86400},   {"0", true, 0, false, 0},
      {"9999", true, 9999, true, 9999ll * 86400}, {"10000", false, 0, true, 10000ll * 86400},
      {"30d", false, 0, true, 30 * 86400}, {"12h", false, 0, true, 12 * 3600},
      {"90m", false, 0, true, 90 * 60},  {"45s", false, 0, true, 45},
      {"2W", false, 0, true, 14 * 86400}, {"", false, 0, false, 0},
      {"d", false, 0, false, 0},         {"3y", false, 0, false, 0},
      {"100001", false, 0, false, 0},    {"1dd", false, 0, false, 0},
  };
  for (const Case& c : cases) {
    int count = -1;
    int64_t seconds = -1;
    EXPECT_EQ(parseCount(c.text, count), c.countOk) << c.text;
    if (c.countOk) EXPECT_EQ(count, c.count) << c.text;
    EXPECT_EQ(parseDuration(c.text, seconds), c.ageOk) << c.text;
    if (c.ageOk) EXPECT_EQ(seconds, c.seconds) << c.text;
  }
}

TEST(LogRotationValues, PolicyFromTheKeys) {
  struct Case {
    const char* rotate;
    const char* keep;
    const char* age;
    bool enabled;
    uint64_t maxBytes;
    bool daily, atStart;
    int keepCount;
    int64_t ageSeconds;
    const char* problemPart;  // empty: no complaint
  };
  const Case cases[] = {
      {"", "3", "1d", false, 0, false, false, 5, 0, ""},  // nothing changes without logrotate
      {"10M", "", "", true, 10ull << 20, false, false, 5, 0, ""},
      {"daily", "14", "30d", true, 0, true, false, 14, 30 * 86400, ""},
      {"start,1M", "2", "", true, 1ull << 20, false, true, 2, 0, ""},
      {"Daily 5M, START", "", "", true, 5ull << 20, true, true, 5, 0, ""},
      {"weekly", "", "", false, 0, false, false, 5, 0, "logrotate \"weekly\""},
      {"10M", "many", "", false, 0, false, false, 5, 0, "logkeep \"many\""},
      {"10M", "", "forever", false, 0, false, false, 5, 0, "logmaxage \"forever\""},
      {" , ", "", "", false, 0, false, false, 5, 0, "logrotate"},
  };
  for (const Case& c : cases) {
    std::string problem;
    RotationPolicy p = rotationPolicy(c.rotate, c.keep, c.age, problem);
    SCOPED_TRACE(c.rotate);
    EXPECT_EQ(p.enabled(), c.enabled);
    EXPECT_EQ(p.maxBytes, c.maxBytes);
    EXPECT_EQ(p.daily, c.daily);
    EXPECT_EQ(p.atStart, c.atStart);
    EXPECT_EQ(p.keep, c.keepCount);
    EXPECT_EQ(p.maxAgeSeconds, c.ageSeconds);
    if (*c.problemPart == '\0') {
      EXPECT_EQ(problem, "");
    } else {
      EXPECT_NE(problem.find(c.problemPart), std::string::npos) << problem;
      EXPECT_EQ(problem.rfind("Log rotation is off: ", 0), 0u) << problem;
    }
  }
}

TEST(LogRotationNames, RecognisedAndOrdered) {
  struct Case {
    const char* name;
    bool ok;
    bool dated;
    int number;
    int dayKey;
  };
  const Case cases[] = {
      {"app.log.1", true, false, 1, 0},
      {"app.log.12", true, false, 12, 0},
      {"app.log.2026-12-08", true, true, 0, 20261208},
      {"app.log.2026-12-08.3", true, true, 3, 20261208},
      {"app.log", false, false, 0, 0},
      {"app.log.", false, false, 0, 0},
      {"app.log.0", false, false, 0, 0},
      {"app.log.x", false, false, 0, 0},
      {"app.log.1.gz", false, false, 0, 0},
      {"app.logs.1", false, false, 0, 0},
      {"other.log.1", false, false, 0, 0},
      {"app.log.2026-13-01", false, false, 0, 0},
      {"app.log.2026-12-08.0", false, false, 0, 0},
      {"app.log.2026-12-08-1", false, false, 0, 0},
  };
  for (const Case& c : cases) {
    RotatedName name;
    EXPECT_EQ(parseRotatedName("app.log", c.name, name), c.ok) << c.name;
    if (!c.ok) continue;
    EXPECT_EQ(name.dated, c.dated) << c.name;
    EXPECT_EQ(name.number, c.number) << c.name;
    EXPECT_EQ(name.dayKey, c.dayKey) << c.name;
  }
  EXPECT_EQ(datedName("/l/app.log", LocalDay{2026, 1, 5}, 0), "/l/app.log.2026-01-05");
  EXPECT_EQ(datedName("/l/app.log", LocalDay{2026, 1, 5}, 2), "/l/app.log.2026-01-05.2");
}

std::string render(const std::vector<FileStep>& steps) {
  std::string out;
  for (const FileStep& s : steps) out += s.from + (s.to.empty() ? " x" : ">" + s.to) + "; ";
  return out;
}

TEST(LogRotationNames, NumberedShift) {
  struct Case {
    int keep;
    std::vector<std::string> present;
    const char* steps;
  };
  const Case cases[] = {
      {3, {}, "a>a.1; "},
      {3, {"a.1"}, "a.1>a.2; a>a.1; "},
      {3, {"a.1", "a.2", "a.3"}, "a.3 x; a.2>a.3; a.1>a.2; a>a.1; "},
      {3, {"a.1", "a.3"}, "a.1>a.2; a>a.1; "},  // a gap stops the shift
      {1, {"a.1"}, "a.1 x; a>a.1; "},
      {0, {"a.1"}, "a>a.1; a.1 x; "},
  };
  for (const Case& c : cases) {
    auto exists = [&](const std::string& n) {
      for (const std::string& p : c.present) {
        if (p == n) return true;
      }
      return false;
    };
    EXPECT_EQ(render(numberedShift("a", c.keep, exists)), c.steps) << c.keep;
  }
}

TEST(LogRotationNames, Retention) {
  const int64_t now = 1000000;
  const std::vector<FoundFile> found = {
      {"app.log.1", now - 10},          {"app.log.2", now - 20},
      {"app.log.3", now - 30},          {"app.log.2026-12-07", now - 86400},
      {"app.log.2026-12-08", now - 5},  {"app.log.2026-12-08.1", now - 4},
      {"app.log.2026-11-30", now - 9 * 86400}, {"app.log", now},
      {"app.log.bak", now - 999999},
  };
  struct Case {
    int keep;
    int64_t age;
    std::vector<std::string> victims;
  };
  const Case cases[] = {
      {9, 0, {}},
      {2, 0, {"app.log.3", "app.log.2026-12-07", "app.log.2026-11-30"}},
      {9, 25, {"app.log.3", "app.log.2026-12-07", "app.log.2026-11-30"}},
      {9, 2 * 86400, {"app.log.2026-11-30"}},
      {0, 0, {"app.log.1", "app.log.2", "app.log.3", "app.log.2026-12-08.1",
              "app.log.2026-12-08", "app.log.2026-12-07", "app.log.2026-11-30"}},
  };
  for (const Case& c : cases) {
    RotationPolicy policy;
    policy.keep = c.keep;
    policy.maxAgeSeconds = c.age;
    EXPECT_EQ(retentionVictims("app.log", found, policy, now), c.victims) << c.keep << " " << c.age;
  }
}

TEST(LogRotationNames, RotationWaitsForALineEnd) {
  struct Case {
    const char* data;
    size_t before;
  };
  const Case cases[] = {{"a\nb\nc", 4}, {"a\nb\n", 4}, {"abc", 3}, {"\n", 1}, {"x\n\ny", 3}};
  for (const Case& c : cases) {
    EXPECT_EQ(bytesBeforeCheck(c.data, std::string(c.data).size()), c.before) << c.data;
  }
}

// Files in memory. Each file has an identity, so that a process holding one
// open can tell that the name now belongs to another ("inode"). The disk
// takes `capacity` more bytes (a full disk writes what fits, as a real
// one does), and the lock can be made to fail.
class MemoryFiles : public LogFileSystem {
 public:
  struct File {
    std::string data;
    int64_t modified = 0;
    int id = 0;
  };

  explicit MemoryFiles(std::map<std::string, File>& disk, std::string path = "/l/app.log")
      : disk_(disk), path_(std::move(path)) {}

  std::string open() override {
    if (failCreate) return "it is a symbolic link";
    auto it = disk_.find(path_);
    if (it == disk_.end()) it = disk_.emplace(path_, File{"", clock, ++lastId()}).first;
    held_ = it->second.id;
    return "";
  }
  size_t write(const char* data, size_t length) override {
    File* f = heldFile();
    if (f == nullptr) return length;  // removed from under us: gone, as on a real disk
    const size_t n = length < capacity ? length : capacity;
    capacity -= n;
    f->data.append(data, n);
    f->modified = clock;
    return n;
  }
  std::string lastError() override { return "No space left on device"; }
  bool takeBack(size_t bytes) override {
    File* f = heldFile();
    if (!canTakeBack || f == nullptr || bytes > f->data.size()) return false;
    f->data.resize(f->data.size() - bytes);
    capacity += bytes;
    return true;
  }
  uint64_t size() override { return heldFile() ? heldFile()->data.size() : 0; }
  int64_t modified() override { return heldFile() ? heldFile()->modified : clock; }
  bool replacedOnDisk() override {
    auto it = disk_.find(path_);
    return it == disk_.end() || it->second.id != held_;
  }
  std::string lock() override {
    ++lockCalls;
    return lockProblem;
  }
  void unlock() override {}
  std::string movable() override { return heldElsewhere ? "another program has it open" : ""; }
  bool exists(const std::string& path) override { return disk_.count(path) != 0; }
  std::string apply(const FileStep& step) override {
    auto it = disk_.find(step.from);
    if (it == disk_.end()) return "missing";
    if (!step.to.empty()) {
      if (disk_.count(step.to)) return "exists";
      disk_[step.to] = it->second;
    }
    disk_.erase(it);
    return "";
  }
  std::vector<FoundFile> listFolder() override {
    std::vector<FoundFile> found;
    for (auto& entry : disk_) found.push_back({entry.first.substr(3), entry.second.modified});
    return found;
  }
  int64_t wallClock() override { return clock; }
  int64_t monotonicMs() override { return clock * 1000; }
  void pauseMs(int) override {}
  const char* lineEnd() override { return "\n"; }

  // A new file under the log's name, as another process's rotation makes.
  void replaceOnDisk(const std::string& movedTo) {
    disk_[movedTo] = disk_[path_];
    disk_[path_] = File{"", clock, ++lastId()};
  }

  int64_t clock = 1765152000;  // 2025-12-08 00:00 UTC
  bool heldElsewhere = false;
  bool failCreate = false;
  size_t capacity = SIZE_MAX;
  bool canTakeBack = false;
  std::string lockProblem;
  int lockCalls = 0;

 private:
  File* heldFile() {
    for (auto& entry : disk_) {
      if (entry.second.id == held_) return &entry.second;
    }
    return nullptr;
  }
  int& lastId() {
    static int id = 0;
    return id;
  }

  std::map<std::string, File>& disk_;
  std::string path_;
  int held_ = 0;
};

std::string lines(int from, int to) {
  std::string out;
  for (int i = from; i < to; ++i) out += "line " + std::to_string(i) + "\n";
  return out;
}

// A log's warnings delivered to `callable`, which must outlive the log.
template <typename F>
RotatingLog::Warn warnTo(F& callable) {
  return {[](void* context, const std::string& line) { return (*static_cast<F*>(context))(line); },
          &callable};
}

// Every warning kept in `lines`, none into the log.
RotatingLog::Warn collectInto(std::vector<std::string>& lines) {
  return {[](void* context, const std::string& line) {
            static_cast<std::vector<std::string>*>(context)->push_back(line);
            return true;
          },
          &lines};
}

// Size rotation with its numbered names and retention, and chunks that end
// in the middle of a line: every line whole in one file, in order.
TEST(RotatingLogTest, RotatesBySizeBetweenLinesOnly) {
  std::map<std::string, MemoryFiles::File> disk;
  MemoryFiles files(disk);
  RotationPolicy policy;
  policy.maxBytes = 100;
  policy.keep = 3;
  RotatingLog log(files, "/l/app.log", policy, {});
  ASSERT_EQ(log.start(), "");
  const std::string all = lines(0, 60);
  for (size_t at = 0; at < all.size(); at += 37) log.write(all.data() + at, std::min<size_t>(37, all.size() - at));

  std::vector<std::string> names;
  std::string joined;
  for (const char* name : {"/l/app.log.3", "/l/app.log.2", "/l/app.log.1", "/l/app.log"}) {
    ASSERT_TRUE(disk.count(name)) << name;
    const std::string& data = disk[name].data;
    EXPECT_EQ(data.back(), '\n') << name;
    EXPECT_LE(data.size(), 100u + 37u) << name;
    joined += data;
  }
  EXPECT_EQ(disk.size(), 4u);  // older ones dropped
  EXPECT_EQ(all.substr(all.size() - joined.size()), joined);
}

// Two processes appending to one file in chunks that end mid-line: a line
// is written only once it is complete, so neither cuts into the other's;
// a quiet writer's held start of a line goes out when asked, and a line
// too long to hold goes out in pieces.
TEST(RotatingLogTest, HoldsTheStartOfALineUntilItsEnd) {
  std::map<std::string, MemoryFiles::File> disk;
  MemoryFiles mine(disk), theirs(disk);
  RotationPolicy policy;
  policy.maxBytes = 1 << 30;
  RotatingLog a(mine, "/l/app.log", policy, {});
  RotatingLog b(theirs, "/l/app.log", policy, {});
  ASSERT_EQ(a.start(), "");
  ASSERT_EQ(b.start(), "");
  a.write("a1\na2 sta", 9);
  b.write("b1\nb2 ", 6);
  a.write("rt", 2);
  b.write("end\n", 4);
  a.write("ed\na3", 5);
  EXPECT_TRUE(a.holdsPartial());
  EXPECT_EQ(disk["/l/app.log"].data, "a1\nb1\nb2 end\na2 started\n");
  a.flushPartial();
  EXPECT_FALSE(a.holdsPartial());
  EXPECT_EQ(disk["/l/app.log"].data, "a1\nb1\nb2 end\na2 started\na3");

  const std::string huge(70000, 'x');
  b.write(huge.data(), huge.size());
  EXPECT_FALSE(b.holdsPartial());
  EXPECT_EQ(disk["/l/app.log"].data.size(), 26u + huge.size());
}

// A rotation that cannot happen: one warning, output goes on into the same
// file, and a later try succeeds: a second later for a file held open
// elsewhere, much later for a lock that stayed taken (each try waits for
// it). The warning goes into the log itself when standard error is this log.
TEST(RotatingLogTest, BlockedRotationWarnsOnceAndRetries) {
  struct Case {
    bool heldElsewhere;
    const char* lockProblem;
    bool warnElsewhere;
    int64_t quietSeconds;  // still no second try this much later
    int64_t retrySeconds;  // tried again by then
    const char* warning;
  };
  const Case cases[] = {
      {true, "", true, 0, 2,
       "Cannot rotate /l/app.log: another program has it open; output goes on into it.\n"},
      {true, "", false, 0, 2,
       "Cannot rotate /l/app.log: another program has it open; output goes on into it.\n"},
      {false, "another process held the rotation lock for 2 s", true, 5, 31,
       "Cannot rotate /l/app.log: another process held the rotation lock for 2 s; output goes on "
       "into it.\n"},
      {false, "its lock file /l/app.log.lock belongs to another user", false, 5, 31,
       "Cannot rotate /l/app.log: its lock file /l/app.log.lock belongs to another user; output "
       "goes on into it.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.warning);
    std::map<std::string, MemoryFiles::File> disk;
    MemoryFiles files(disk);
    RotationPolicy policy;
    policy.maxBytes = 50;
    std::vector<std::string> warnings;
    auto warn = [&](const std::string& line) {
      warnings.push_back(line);
      return c.warnElsewhere;
    };
    RotatingLog log(files, "/l/app.log", policy, warnTo(warn));
    ASSERT_EQ(log.start(), "");
    files.heldElsewhere = c.heldElsewhere;
    files.lockProblem = c.lockProblem;
    const std::string first = lines(0, 20);
    log.write(first.data(), first.size());
    log.write(first.data(), first.size());
    ASSERT_EQ(warnings, std::vector<std::string>{c.warning});
    EXPECT_EQ(disk.size(), 1u);
    EXPECT_EQ(disk["/l/app.log"].data, c.warnElsewhere ? first + first : first + c.warning + first);

    const int tries = files.lockCalls;
    files.clock += c.quietSeconds;
    log.write(first.data(), first.size());
    EXPECT_EQ(files.lockCalls, tries);
    files.heldElsewhere = false;
    files.lockProblem.clear();
    files.clock += c.retrySeconds;
    const std::string later = lines(20, 21);
    log.write(later.data(), later.size());
    EXPECT_EQ(disk["/l/app.log"].data, later);
    EXPECT_EQ(disk.count("/l/app.log.1"), 1u);
    EXPECT_EQ(warnings.size(), 1u);
  }
}

// What now stands under the log's name after another process moved the
// file is refused (a planted link): output goes on into the moved file,
// and one line says so.
TEST(RotatingLogTest, ARefusedNewFileIsNotFollowed) {
  std::map<std::string, MemoryFiles::File> disk;
  MemoryFiles files(disk);
  RotationPolicy policy;
  policy.maxBytes = 1 << 20;
  std::vector<std::string> warnings;
  RotatingLog log(files, "/l/app.log", policy, collectInto(warnings));
  ASSERT_EQ(log.start(), "");
  log.write("before\n", 7);
  files.replaceOnDisk("/l/moved");
  files.failCreate = true;
  files.clock += 1;
  log.write("after\n", 6);
  log.write("later\n", 6);
  EXPECT_EQ(disk["/l/moved"].data, "before\nafter\nlater\n");
  EXPECT_EQ(disk["/l/app.log"].data, "");
  EXPECT_EQ(warnings, std::vector<std::string>{
                          "Cannot follow /l/app.log into its new file: it is a symbolic link; "
                          "output goes on into the file it was moved to.\n"});
}

// Output without line feeds (progress rewritten with carriage returns, or
// none at all, or lines longer than the slack) still rotates: a file past
// its size by more than the slack is cut at the last carriage return, else
// at the slack, and every byte is kept in order.
TEST(RotatingLogTest, OutputWithoutLineFeedsIsCutPastTheSlack) {
  struct Case {
    const char* name;
    std::string unit;  // repeated
    char lastByte;     // of every full file; 0: any
  };
  const Case cases[] = {
      {"progress", "\rcopied 0042 of 9999 files", '\r'},
      {"no line ends", "abcdefghij", 0},
      {"very long lines", std::string(150 * 1024, 'L') + "\n", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::map<std::string, MemoryFiles::File> disk;
    MemoryFiles files(disk);
    RotationPolicy policy;
    policy.maxBytes = 1000;
    policy.keep = 1000;
    RotatingLog log(files, "/l/app.log", policy, {});
    ASSERT_EQ(log.start(), "");
    std::string all;
    while (all.size() < 600 * 1024) all += c.unit;
    for (size_t at = 0; at < all.size(); at += 4000) {
      log.write(all.data() + at, std::min<size_t>(4000, all.size() - at));
    }
    log.flushPartial();
    std::string joined;
    size_t rotated = 0;
    for (int n = 1000; n >= 0; --n) {
      const std::string name = n == 0 ? "/l/app.log" : numberedName("/l/app.log", n);
      if (!disk.count(name)) continue;
      const std::string& data = disk[name].data;
      EXPECT_LE(data.size(), 1000 + RotatingLog::kSlack) << name;
      if (n != 0) {
        ++rotated;
        if (c.lastByte != 0) EXPECT_EQ(data.back(), c.lastByte) << name;
      }
      joined += data;
    }
    EXPECT_GE(rotated, 600u * 1024 / (1000 + RotatingLog::kSlack));
    EXPECT_TRUE(joined == all);
  }
}

// A disk that takes no more: what fits goes in as whole lines (the start
// of a line whose end did not fit is taken back where the file allows it,
// else ended by a line end before anything else), one line says so, and
// once the disk takes output again the file says how much is missing
// there, and whole lines follow.
TEST(RotatingLogTest, AFullDiskLosesWholeLinesAndSaysHowMany) {
  struct Case {
    size_t capacity;
    bool canTakeBack;
  };
  const Case cases[] = {{1003, true}, {1003, false}, {0, false}, {997, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.capacity) + (c.canTakeBack ? " take back" : ""));
    std::map<std::string, MemoryFiles::File> disk;
    MemoryFiles files(disk);
    RotationPolicy policy;
    policy.maxBytes = 1 << 30;
    std::vector<std::string> warnings;
    RotatingLog log(files, "/l/app.log", policy, collectInto(warnings));
    ASSERT_EQ(log.start(), "");
    files.capacity = c.capacity;
    files.canTakeBack = c.canTakeBack;
    const std::string full = lines(0, 300);
    for (size_t at = 0; at < full.size(); at += 500) {
      log.write(full.data() + at, std::min<size_t>(500, full.size() - at));
    }
    EXPECT_EQ(warnings, std::vector<std::string>{
                            "Cannot write to /l/app.log: No space left on device; output is lost "
                            "until it can be written again.\n"});
    files.capacity = SIZE_MAX;
    files.clock += 2;
    const std::string after = lines(300, 310);
    log.write(after.data(), after.size());

    // Whole lines, one report, then the later lines; a line's start that
    // stayed is followed by the report and nothing else.
    const std::string& data = disk["/l/app.log"].data;
    std::vector<std::string> got;
    for (size_t at = 0; at < data.size();) {
      const size_t end = data.find('\n', at);
      ASSERT_NE(end, std::string::npos);
      got.push_back(data.substr(at, end - at));
      at = end + 1;
    }
    size_t report = 0;
    while (report < got.size() && got[report].rfind("Output could not", 0) != 0) ++report;
    ASSERT_LT(report, got.size());
    std::string kept;
    for (size_t i = 0; i < report; ++i) kept += got[i] + "\n";
    std::string fragment;
    if (full.compare(0, kept.size(), kept) != 0) {  // the last one is a line's start
      fragment = got[report - 1];
      kept.resize(kept.size() - fragment.size() - 1);
      EXPECT_FALSE(c.canTakeBack);
    }
    ASSERT_EQ(full.compare(0, kept.size(), kept), 0);
    EXPECT_LE(kept.size() + fragment.size(), c.capacity);
    const std::string missing = full.substr(kept.size());
    EXPECT_EQ(got[report], "Output could not be written to /l/app.log (No space left on device): " +
                               std::to_string(missing.size() - fragment.size()) + " bytes in " +
                               std::to_string(std::count(missing.begin(), missing.end(), '\n')) +
                               " lines are missing here.");
    std::string rest;
    for (size_t i = report + 1; i < got.size(); ++i) rest += got[i] + "\n";
    EXPECT_EQ(rest, after);
    EXPECT_EQ(warnings.size(), 1u);
  }
}

// Another process rotated the file: this one follows into the new file
// instead of rotating again, and its lines are in the old and the new file.
TEST(RotatingLogTest, FollowsARotationByAnotherProcess) {
  std::map<std::string, MemoryFiles::File> disk;
  MemoryFiles mine(disk), theirs(disk);
  RotationPolicy policy;
  policy.maxBytes = 1000;
  RotatingLog a(mine, "/l/app.log", policy, {});
  RotatingLog b(theirs, "/l/app.log", policy, {});
  ASSERT_EQ(a.start(), "");
  ASSERT_EQ(b.start(), "");
  a.write("a1\n", 3);
  const std::string big = lines(0, 150);
  b.write(big.data(), big.size());
  b.write("b2\n", 3);  // b rotated before this line
  mine.clock += 1;
  a.write("a2\n", 3);
  EXPECT_EQ(disk["/l/app.log.1"].data, "a1\n" + big);
  EXPECT_EQ(disk["/l/app.log"].data, "b2\na2\n");
  EXPECT_EQ(disk.count("/l/app.log.2"), 0u);
}

// Daily rotation names the file after the day its output belongs to; at
// start an earlier day's file is rotated at once; rotation at each start.
TEST(RotatingLogTest, DailyAndAtStart) {
  struct Case {
    bool daily, atStart;
    int64_t existingAge;  // seconds before now of the existing file's last write
    std::vector<std::string> rotatedAtStart;
  };
  const Case cases[] = {
      {true, false, 86400, {"/l/app.log.2025-12-07"}},
      {true, false, 0, {}},
      {false, true, 0, {"/l/app.log.1"}},
      {false, false, 86400, {}},
  };
  for (const Case& c : cases) {
    std::map<std::string, MemoryFiles::File> disk;
    MemoryFiles files(disk);
    files.clock += 12 * 3600;  // midday, whatever the test machine's zone
    disk["/l/app.log"] = {"old\n", files.clock - c.existingAge, 999};
    RotationPolicy policy;
    policy.daily = c.daily;
    policy.atStart = c.atStart;
    RotatingLog log(files, "/l/app.log", policy, {});
    ASSERT_EQ(log.start(), "");
    std::vector<std::string> rotated;
    for (auto& entry : disk) {
      if (entry.first != "/l/app.log") rotated.push_back(entry.first);
    }
    EXPECT_EQ(rotated, c.rotatedAtStart);
    if (c.daily) {
      log.write("today\n", 6);
      files.clock += 86400;
      log.write("tomorrow\n", 9);
      LocalDay today = localDayOf(files.clock - 86400);
      EXPECT_EQ(disk[datedName("/l/app.log", today, 0)].data,
                c.existingAge == 0 ? "old\ntoday\n" : "today\n");
      EXPECT_EQ(disk["/l/app.log"].data, "tomorrow\n");
    }
  }
}

}  // namespace
}  // namespace qlx
