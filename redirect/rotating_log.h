// A log file that is rotated between lines: output arrives in chunks (from
// the pipe that stands in for the standard handle), is appended to the
// current file, and when the policy says so the file is moved aside and a
// new one started, under a lock shared by every process that writes to the
// same path. Output that the file does not take (a full disk) is counted,
// said once, and reported in the file when it takes output again.
//
// The decisions live here; LogFileSystem is the platform's file access
// (rotating_log_win.cpp / rotating_log_posix.cpp), and the tests give it
// files in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "redirect/log_rotation.h"

namespace qlx {

class LogFileSystem {
 public:
  virtual ~LogFileSystem() = default;

  // The file this process appends to, at `path`. open() (re)opens it,
  // creating it when missing, never through a final symbolic link, and
  // refuses a file of another user. Empty on success; else why not, and
  // the previous file stays in use.
  virtual std::string open() = 0;
  // Appends; returns how many bytes reached the file, all of them unless
  // the write failed (lastError() then says why).
  virtual size_t write(const char* data, size_t length) = 0;
  virtual std::string lastError() = 0;
  // Removes the last `bytes` this process wrote, when nothing has been
  // written after them; false when that cannot be done.
  virtual bool takeBack(size_t bytes) = 0;
  virtual uint64_t size() = 0;      // of the file held open
  virtual int64_t modified() = 0;   // its last write, in seconds since 1970
  // The path now names another file than the one held open (another
  // process rotated it), or none.
  virtual bool replacedOnDisk() = 0;

  // One rotation at a time among all processes writing to the path, and a
  // lock no other user can take. The wait is bounded: empty when taken,
  // else why not.
  virtual std::string lock() = 0;
  virtual void unlock() = 0;
  // Empty when the file can be moved; else why not (held open elsewhere).
  virtual std::string movable() = 0;
  virtual bool exists(const std::string& path) = 0;
  // Renames without replacing; `to` empty removes. Empty on success, else why not.
  virtual std::string apply(const FileStep& step) = 0;
  // Files in the log's folder, with their last write times.
  virtual std::vector<FoundFile> listFolder() = 0;

  virtual int64_t wallClock() = 0;   // seconds since 1970
  virtual int64_t monotonicMs() = 0;
  virtual void pauseMs(int ms) = 0;
  // How the platform's text files end a line ("\n", or "\r\n" on Windows).
  virtual const char* lineEnd() = 0;
};

class RotatingLog {
 public:
  // Delivers a line that says something went wrong with this log (a
  // rotation that cannot happen, output that cannot be written); false
  // when that line belongs into this log itself (standard error is this
  // file), where it is then written between two lines. With no `deliver`
  // every such line goes into the log. A function and its context rather
  // than a callable object: the log keeps it, and the stub stays small.
  struct Warn {
    bool (*deliver)(void* context, const std::string& line) = nullptr;
    void* context = nullptr;
  };

  // `path` as given to the file system.
  RotatingLog(LogFileSystem& files, std::string path, const RotationPolicy& policy, Warn warn);

  // Opens the file (empty, or why it cannot be opened); rotates it at once
  // when the policy rotates at each start, or when it holds an earlier
  // day's output under daily rotation.
  std::string start();
  // Appends output; rotations happen only between lines, except that a
  // file past its size by more than the slack is cut at the last carriage
  // return or, without one, at the slack. The end of a line not yet
  // complete is held back until its line end arrives, so that processes
  // sharing the file never cut into each other's lines.
  void write(const char* data, size_t length);
  // Writes a held-back line end, for a writer that has gone quiet
  // mid-line, and at the end.
  void flushPartial();
  bool holdsPartial() const { return !partial_.empty(); }
  // No rotation from now on: the process is ending and the last output
  // goes after what is already in the file.
  void freeze();

  // How far a file may pass its size while its cut waits for a line end.
  static constexpr uint64_t kSlack = 64 * 1024;

 private:
  void append(const char* data, size_t length);
  void beforeLine();
  size_t oversizeCut(const char* data, size_t part);
  void put(const char* data, size_t length);
  size_t writeOut(const char* data, size_t length);
  void beginLoss(const char* lost, size_t length);
  void countLost(const char* lost, size_t length);
  bool reportLoss();
  bool due();
  bool rotate();
  bool shiftAside(std::string& why);
  void applyRetention();
  void beginPeriod();
  void failed(const std::string& why, int64_t retryMs);
  void warn(const std::string& text, bool& said, bool intoFile);

  LogFileSystem& files_;
  std::string path_;
  RotationPolicy policy_;
  Warn warn_;
  bool atLineStart_ = true;  // the next byte of output starts a line
  bool cutDue_ = false;      // a file past its slack was cut: rotate before going on
  bool fileMidLine_ = false; // the last byte this process wrote to the file ends no line
  int periodDay_ = 0;     // LocalDay key the current file's output belongs to
  LocalDay periodLocalDay_;
  int64_t dayCheckedAt_ = -1;  // wall clock of the last day check
  int today_ = 0;
  int64_t identityCheckedMs_ = 0;
  int64_t retryAfterMs_ = 0;   // after a failed rotation
  bool warned_ = false;        // about the rotation, since it last worked
  bool frozen_ = false;
  // Output that could not be written: counted until the file takes
  // output again, then reported there.
  bool losing_ = false;
  bool lossWarned_ = false;
  bool skipping_ = false;      // the rest of a line whose start was lost
  uint64_t lostBytes_ = 0;
  uint64_t lostLines_ = 0;
  std::string lossReason_;
  int64_t probeAfterMs_ = 0;
  std::string notice_;   // the warning, when it goes into this file
  std::string partial_;  // the start of a line whose end has not arrived
};

}  // namespace qlx
