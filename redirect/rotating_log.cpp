// RotatingLog: when a log is rotated, under which lock, and what happens
// when the file cannot be moved (nothing is lost: writing goes on in the
// current file and a later line tries again).
#include "redirect/rotating_log.h"

#include <utility>

namespace qlx {

namespace {

// Another process may rotate the file under us; its identity is checked
// this often while output flows (never while the program is quiet).
constexpr int64_t kIdentityCheckMs = 200;
// After a rotation failed, the next attempt waits this long.
constexpr int64_t kRetryMs = 1000;
// A line longer than this is written in pieces rather than held.
constexpr size_t kMaxHeld = 64 * 1024;

}  // namespace

RotatingLog::RotatingLog(LogFileSystem& files, std::string path, const RotationPolicy& policy,
                         Warn warn)
    : files_(files), path_(std::move(path)), policy_(policy), warn_(std::move(warn)) {}

bool RotatingLog::start() {
  if (!files_.open()) return false;
  beginPeriod();
  bool now = false;
  if (files_.size() > 0) {
    now = policy_.atStart || (policy_.maxBytes != 0 && files_.size() >= policy_.maxBytes) ||
          (policy_.daily && periodDay_ != localDayOf(files_.wallClock()).key());
  }
  if (now) {
    rotate();
  } else if (files_.lock()) {
    applyRetention();
    files_.unlock();
  }
  identityCheckedMs_ = files_.monotonicMs();
  return true;
}

void RotatingLog::freeze() { frozen_ = true; }

void RotatingLog::write(const char* data, size_t length) {
  if (!partial_.empty()) {
    size_t end = 0;
    while (end < length && data[end] != '\n') ++end;
    if (end == length) {
      partial_.append(data, length);
      if (partial_.size() >= kMaxHeld) flushPartial();
      return;
    }
    partial_.append(data, end + 1);
    flushPartial();
    data += end + 1;
    length -= end + 1;
  }
  size_t whole = length;
  while (whole > 0 && data[whole - 1] != '\n') --whole;
  append(data, whole);
  if (length - whole >= kMaxHeld) {
    append(data + whole, length - whole);
  } else {
    partial_.assign(data + whole, length - whole);
  }
}

void RotatingLog::flushPartial() {
  std::string held;
  held.swap(partial_);
  if (!held.empty()) append(held.data(), held.size());
}

void RotatingLog::append(const char* data, size_t length) {
  while (length > 0) {
    if (atLineStart_ && !frozen_) {
      const int64_t now = files_.monotonicMs();
      if (now - identityCheckedMs_ >= kIdentityCheckMs) {
        identityCheckedMs_ = now;
        // Whoever rotated has moved our file aside: follow into the new one.
        if (files_.replacedOnDisk() && files_.open()) beginPeriod();
      }
      if (due()) rotate();
      if (!notice_.empty()) {
        files_.write(notice_.data(), notice_.size());
        notice_.clear();
      }
    }
    const size_t part = bytesBeforeCheck(data, length);
    files_.write(data, part);
    atLineStart_ = data[part - 1] == '\n';
    data += part;
    length -= part;
  }
}

bool RotatingLog::due() {
  if (files_.monotonicMs() < retryAfterMs_) return false;
  if (policy_.maxBytes != 0 && files_.size() >= policy_.maxBytes) return true;
  if (policy_.daily) {
    const int64_t wall = files_.wallClock();
    if (dayCheckedAt_ < 0 || wall != dayCheckedAt_) {
      dayCheckedAt_ = wall;
      today_ = localDayOf(wall).key();
    }
    if (today_ != periodDay_) {
      if (files_.size() > 0) return true;
      beginPeriod();  // nothing of the old day to keep
    }
  }
  return false;
}

void RotatingLog::rotate() {
  if (!files_.lock()) {
    failed("the rotation lock cannot be taken");
    return;
  }
  if (files_.replacedOnDisk()) {
    // Another process rotated it a moment ago; its new file is ours too.
    if (files_.open()) beginPeriod();
    files_.unlock();
    return;
  }
  std::string why;
  if (!shiftAside(why)) {
    files_.unlock();
    failed(why);
    return;
  }
  if (!files_.open()) {
    // The old file, now under its rotated name, stays in use until a new
    // one can be created.
    files_.unlock();
    failed("a new file cannot be created");
    return;
  }
  beginPeriod();
  applyRetention();
  files_.unlock();
  warned_ = false;
}

bool RotatingLog::shiftAside(std::string& why) {
  why = files_.movable();
  if (!why.empty()) return false;
  std::vector<FileStep> steps;
  if (policy_.daily) {
    int number = 0;
    while (files_.exists(datedName(path_, periodLocalDay_, number))) ++number;
    steps.push_back({path_, datedName(path_, periodLocalDay_, number)});
  } else {
    steps = numberedShift(path_, policy_.keep,
                          [this](const std::string& name) { return files_.exists(name); });
  }
  bool moved = false;
  for (const FileStep& step : steps) {
    why = files_.apply(step);
    if (why.empty()) {
      moved = moved || step.from == path_;
    } else if (!moved) {
      return false;
    }
  }
  why.clear();
  return moved;
}

void RotatingLog::applyRetention() {
  const std::string folder = folderOf(path_);
  for (const std::string& name : retentionVictims(fileNameOf(path_), files_.listFolder(), policy_,
                                                  files_.wallClock())) {
    files_.apply({folder + name, ""});  // a file that stays is tried again next time
  }
}

void RotatingLog::beginPeriod() {
  periodLocalDay_ = localDayOf(files_.size() > 0 ? files_.modified() : files_.wallClock());
  periodDay_ = periodLocalDay_.key();
}

void RotatingLog::failed(const std::string& why) {
  retryAfterMs_ = files_.monotonicMs() + kRetryMs;
  if (warned_) return;
  warned_ = true;
  std::string line = "Cannot rotate " + path_ + ": " + why + "; output goes on into it.\n";
  if (!warn_ || !warn_(line)) notice_ = line;
}

}  // namespace qlx
