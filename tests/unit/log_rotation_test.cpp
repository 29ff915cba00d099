// Rotation of redirected logs: reading the keys' values, the rotated names,
// retention, and RotatingLog driven over files held in memory, where time,
// other processes and failing renames are under the test's control.
#include <gtest/gtest.h>

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
// open can tell that the name now belongs to another ("inode").
class MemoryFiles : public LogFileSystem {
 public:
  struct File {
    std::string data;
    int64_t modified = 0;
    int id = 0;
  };

  explicit MemoryFiles(std::map<std::string, File>& disk, std::string path = "/l/app.log")
      : disk_(disk), path_(std::move(path)) {}

  bool open() override {
    if (failCreate) return false;
    auto it = disk_.find(path_);
    if (it == disk_.end()) it = disk_.emplace(path_, File{"", clock, ++lastId()}).first;
    held_ = it->second.id;
    return true;
  }
  bool write(const char* data, size_t length) override {
    File* f = heldFile();
    if (f == nullptr) return false;  // removed from under us: lost, as on a real disk
    f->data.append(data, length);
    f->modified = clock;
    return true;
  }
  uint64_t size() override { return heldFile() ? heldFile()->data.size() : 0; }
  int64_t modified() override { return heldFile() ? heldFile()->modified : clock; }
  bool replacedOnDisk() override {
    auto it = disk_.find(path_);
    return it == disk_.end() || it->second.id != held_;
  }
  bool lock() override { return true; }
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

  int64_t clock = 1765152000;  // 2025-12-08 00:00 UTC
  bool heldElsewhere = false;
  bool failCreate = false;

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

// Size rotation with its numbered names and retention, and chunks that end
// in the middle of a line: every line whole in one file, in order.
TEST(RotatingLogTest, RotatesBySizeBetweenLinesOnly) {
  std::map<std::string, MemoryFiles::File> disk;
  MemoryFiles files(disk);
  RotationPolicy policy;
  policy.maxBytes = 100;
  policy.keep = 3;
  RotatingLog log(files, "/l/app.log", policy, nullptr);
  ASSERT_TRUE(log.start());
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
  RotatingLog a(mine, "/l/app.log", policy, nullptr);
  RotatingLog b(theirs, "/l/app.log", policy, nullptr);
  ASSERT_TRUE(a.start());
  ASSERT_TRUE(b.start());
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

// A file held open elsewhere: one warning, output goes on into the same
// file, and the next try after a pause succeeds. The warning goes into the
// log itself when standard error is this log.
TEST(RotatingLogTest, BlockedRotationWarnsOnceAndRetries) {
  for (bool warnElsewhere : {true, false}) {
    std::map<std::string, MemoryFiles::File> disk;
    MemoryFiles files(disk);
    RotationPolicy policy;
    policy.maxBytes = 50;
    std::vector<std::string> warnings;
    RotatingLog log(files, "/l/app.log", policy, [&](const std::string& line) {
      warnings.push_back(line);
      return warnElsewhere;
    });
    ASSERT_TRUE(log.start());
    files.heldElsewhere = true;
    const std::string first = lines(0, 20);
    log.write(first.data(), first.size());
    log.write(first.data(), first.size());
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0], "Cannot rotate /l/app.log: another program has it open; output goes on "
                           "into it.\n");
    EXPECT_EQ(disk.size(), 1u);
    const std::string& current = disk["/l/app.log"].data;
    EXPECT_EQ(current, warnElsewhere ? first + first : first + warnings[0] + first);

    files.heldElsewhere = false;
    files.clock += 2;
    const std::string later = lines(20, 21);
    log.write(later.data(), later.size());
    EXPECT_EQ(disk["/l/app.log"].data, later);
    EXPECT_EQ(disk.count("/l/app.log.1"), 1u);
  }
}

// Another process rotated the file: this one follows into the new file
// instead of rotating again, and its lines are in the old and the new file.
TEST(RotatingLogTest, FollowsARotationByAnotherProcess) {
  std::map<std::string, MemoryFiles::File> disk;
  MemoryFiles mine(disk), theirs(disk);
  RotationPolicy policy;
  policy.maxBytes = 1000;
  RotatingLog a(mine, "/l/app.log", policy, nullptr);
  RotatingLog b(theirs, "/l/app.log", policy, nullptr);
  ASSERT_TRUE(a.start());
  ASSERT_TRUE(b.start());
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
    RotatingLog log(files, "/l/app.log", policy, nullptr);
    ASSERT_TRUE(log.start());
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
