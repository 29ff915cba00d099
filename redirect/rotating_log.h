// A log file that is rotated between lines: output arrives in chunks (from
// the pipe that stands in for the standard handle), is appended to the
// current file, and when the policy says so the file is moved aside and a
// new one started, under a lock shared by every process that writes to the
// same path.
//
// The decisions live here; LogFileSystem is the platform's file access
// (rotating_log_win.cpp / rotating_log_posix.cpp), and the tests give it
// files in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "redirect/log_rotation.h"

namespace qlx {

class LogFileSystem {
 public:
  virtual ~LogFileSystem() = default;

  // The file this process appends to, at `path`. open() (re)opens it,
  // creating it when missing; on failure the previous file stays in use.
  virtual bool open() = 0;
  virtual bool write(const char* data, size_t length) = 0;
  virtual uint64_t size() = 0;      // of the file held open
  virtual int64_t modified() = 0;   // its last write, in seconds since 1970
  // The path now names another file than the one held open (another
  // process rotated it), or none.
  virtual bool replacedOnDisk() = 0;

  // One rotation at a time among all processes writing to the path.
  virtual bool lock() = 0;
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
};

class RotatingLog {
 public:
  // Delivers the one line that says a rotation could not happen; false
  // when that line belongs into this log itself (standard error is this
  // file), where it is then written between two lines.
  using Warn = std::function<bool(const std::string& line)>;

  // `path` as given to the file system.
  RotatingLog(LogFileSystem& files, std::string path, const RotationPolicy& policy, Warn warn);

  // Opens the file; rotates it at once when the policy rotates at each
  // start, or when it holds an earlier day's output under daily rotation.
  bool start();
  // Appends output; rotations happen only between lines. The end of a
  // line not yet complete is held back until its line end arrives, so that
  // processes sharing the file never cut into each other's lines.
  void write(const char* data, size_t length);
  // Writes a held-back line end, for a writer that has gone quiet
  // mid-line, and at the end.
  void flushPartial();
  bool holdsPartial() const { return !partial_.empty(); }
  // No rotation from now on: the process is ending and the last output
  // goes after what is already in the file.
  void freeze();

 private:
  void append(const char* data, size_t length);
  bool due();
  void rotate();
  bool shiftAside(std::string& why);
  void applyRetention();
  void beginPeriod();
  void failed(const std::string& why);

  LogFileSystem& files_;
  std::string path_;
  RotationPolicy policy_;
  Warn warn_;
  bool atLineStart_ = true;
  int periodDay_ = 0;     // LocalDay key the current file's output belongs to
  LocalDay periodLocalDay_;
  int64_t dayCheckedAt_ = -1;  // wall clock of the last day check
  int today_ = 0;
  int64_t identityCheckedMs_ = 0;
  int64_t retryAfterMs_ = 0;   // after a failed rotation
  bool warned_ = false;
  bool frozen_ = false;
  std::string notice_;   // the warning, when it goes into this file
  std::string partial_;  // the start of a line whose end has not arrived
};

}  // namespace qlx
