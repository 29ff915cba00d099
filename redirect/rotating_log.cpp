// RotatingLog: when a log is rotated, under which lock, what happens when
// the file cannot be moved (nothing is lost: writing goes on in the current
// file and a later line tries again), and what happens when the file takes
// no more output (a full disk): what is lost is counted, said once, and
// reported in the file where it is missing once the file takes output again.
#include "redirect/rotating_log.h"

#include <utility>

#include "launcher/messages.h"
#include "launcher/trace.h"

namespace qlx {

namespace {

// Another process may rotate the file under us; its identity is checked
// this often while output flows (never while the program is quiet).
constexpr int64_t kIdentityCheckMs = 200;
// After a rotation failed, the next attempt waits this long.
constexpr int64_t kRetryMs = 1000;
// A lock that stayed taken for its whole wait belongs to a process that is
// stuck: asking every second would hold the output up that long each time.
constexpr int64_t kLockRetryMs = 30000;
// A line longer than this is written in pieces rather than held.
constexpr size_t kMaxHeld = 64 * 1024;
// A write that failed is tried again after these pauses before what it
// carried counts as lost.
constexpr int kWritePausesMs[] = {10, 50};
// While output is being lost, the file is offered the report this often.
constexpr int64_t kProbeMs = 1000;

uint64_t lineEndsIn(const char* data, size_t length) {
  uint64_t count = 0;
  for (size_t i = 0; i < length; ++i) count += data[i] == '\n';
  return count;
}

}  // namespace

RotatingLog::RotatingLog(LogFileSystem& files, std::string path, const RotationPolicy& policy,
                         Warn warn)
    : files_(files), path_(std::move(path)), policy_(policy), warn_(warn) {}

std::string RotatingLog::start() {
  std::string why = files_.open();
  if (!why.empty()) return why;
  beginPeriod();
  bool now = false;
  if (files_.size() > 0) {
    now = policy_.atStart || (policy_.maxBytes != 0 && files_.size() >= policy_.maxBytes) ||
          (policy_.daily && periodDay_ != localDayOf(files_.wallClock()).key());
  }
  if (now) {
    rotate();
  } else if (files_.lock().empty()) {
    // Only tidying: a lock not had now is asked for at the next rotation.
    applyRetention();
    files_.unlock();
  }
  identityCheckedMs_ = files_.monotonicMs();
  return std::string();
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
    if ((atLineStart_ || cutDue_) && !frozen_) beforeLine();
    size_t part = bytesBeforeCheck(data, length);
    if (skipping_) {
      // Without its start the rest of a lost line would stand as a line
      // of its own: it is lost too.
      part = 0;
      while (part < length && data[part] != '\n') ++part;
      part = part < length ? part + 1 : length;
      countLost(data, part);
      skipping_ = data[part - 1] != '\n';
    } else {
      const size_t cut = oversizeCut(data, part);
      if (cut < part) {
        cutDue_ = true;
        if (cut == 0) {
          // Nothing more fits before the cut: rotate first, or, when that
          // cannot happen now, write on.
          if (rotate()) continue;
          cutDue_ = false;
        } else {
          part = cut;
        }
      }
      put(data, part);
    }
    atLineStart_ = data[part - 1] == '\n';
    data += part;
    length -= part;
  }
}

void RotatingLog::beforeLine() {
  cutDue_ = false;
  const int64_t now = files_.monotonicMs();
  if (now - identityCheckedMs_ >= kIdentityCheckMs) {
    identityCheckedMs_ = now;
    // Whoever rotated has moved our file aside: follow into the new one,
    // unless what now stands under the name is refused.
    if (files_.replacedOnDisk()) {
      const std::string why = files_.open();
      if (why.empty()) {
        beginPeriod();
        fileMidLine_ = false;
      } else {
        warn(fillPlaceholders("Cannot follow %s into its new file: %s; output goes on into the "
                              "file it was moved to.",
                              {path_, why}, std::string::npos),
             warned_, true);
      }
    }
  }
  if (due()) rotate();
  if (!notice_.empty() && !losing_) {
    std::string notice;
    notice.swap(notice_);
    writeOut(notice.data(), notice.size());
  }
}

size_t RotatingLog::oversizeCut(const char* data, size_t part) {
  // At a line start the rotation check has just run, so only a part
  // larger than the slack can carry the file past it.
  if (frozen_ || policy_.maxBytes == 0 || policy_.maxBytes > UINT64_MAX - kSlack ||
      (atLineStart_ && part <= kSlack) || files_.monotonicMs() < retryAfterMs_) {
    return part;
  }
  const uint64_t limit = policy_.maxBytes + kSlack;
  const uint64_t size = files_.size();
  if (size + part <= limit) return part;
  const size_t room = size >= limit ? 0 : static_cast<size_t>(limit - size);
  // The last line end that fits, else the last carriage return (progress
  // output that rewrites one line), else as much as fits.
  for (size_t i = room; i > 0; --i) {
    if (data[i - 1] == '\n') return i;
  }
  for (size_t i = room; i > 0; --i) {
    if (data[i - 1] == '\r') return data[i] == '\n' ? i + 1 : i;  // i < part: data[i] exists
  }
  return room;
}

void RotatingLog::put(const char* data, size_t length) {
  // Once output has been lost, writing resumes only at the start of a
  // line, after the report of what is missing.
  if (losing_ && !(atLineStart_ && reportLoss())) {
    countLost(data, length);
    skipping_ = data[length - 1] != '\n';
    return;
  }
  const size_t written = writeOut(data, length);
  if (written < length) beginLoss(data + written, length - written);
}

size_t RotatingLog::writeOut(const char* data, size_t length) {
  size_t written = files_.write(data, length);
  for (int pause : kWritePausesMs) {
    if (written == length) break;
    files_.pauseMs(pause);
    written += files_.write(data + written, length - written);
  }
  if (written < length) {
    // The start of a line whose end did not fit is taken back, so that no
    // half line stands in the file.
    size_t lineStart = written;
    while (lineStart > 0 && data[lineStart - 1] != '\n') --lineStart;
    if (lineStart < written && files_.takeBack(written - lineStart)) written = lineStart;
  }
  if (written > 0) fileMidLine_ = data[written - 1] != '\n';
  return written;
}

void RotatingLog::beginLoss(const char* lost, size_t length) {
  losing_ = true;
  lossReason_ = files_.lastError();
  probeAfterMs_ = files_.monotonicMs() + kProbeMs;
  countLost(lost, length);
  skipping_ = lost[length - 1] != '\n';
  // Not into the file itself: it takes nothing now, and the report will
  // stand there when it does.
  warn(fillPlaceholders("Cannot write to %s: %s; output is lost until it can be written again.",
                        {path_, lossReason_}, std::string::npos),
       lossWarned_, false);
}

void RotatingLog::countLost(const char* lost, size_t length) {
  lostBytes_ += length;
  lostLines_ += lineEndsIn(lost, length);
}

bool RotatingLog::reportLoss() {
  const int64_t now = files_.monotonicMs();
  if (now < probeAfterMs_) return false;
  probeAfterMs_ = now + kProbeMs;
  DecimalBuffer bytes, lines;
  const std::string text = fillPlaceholders(
      "%sOutput could not be written to %s (%s): %s bytes in %s lines are missing here.%s",
      {fileMidLine_ ? files_.lineEnd() : "", path_, lossReason_, decimal(lostBytes_, bytes),
       decimal(lostLines_, lines), files_.lineEnd()},
      std::string::npos);
  if (writeOut(text.data(), text.size()) < text.size()) return false;
  losing_ = false;
  lossWarned_ = false;
  lostBytes_ = 0;
  lostLines_ = 0;
  return true;
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

bool RotatingLog::rotate() {
  std::string why = files_.lock();
  if (!why.empty()) {
    failed(why, kLockRetryMs);
    return false;
  }
  if (files_.replacedOnDisk()) {
    // Another process rotated it a moment ago; its new file is ours too.
    why = files_.open();
    files_.unlock();
    if (!why.empty()) {
      failed(fillPlaceholders("the file now under its name is refused: %s", {why}), kRetryMs);
      return false;
    }
    beginPeriod();
    fileMidLine_ = false;
    return true;
  }
  if (!shiftAside(why)) {
    files_.unlock();
    failed(why, kRetryMs);
    return false;
  }
  why = files_.open();
  if (!why.empty()) {
    // The old file, now under its rotated name, stays in use until a new
    // one can be created.
    files_.unlock();
    failed(fillPlaceholders("a new file cannot be created: %s", {why}), kRetryMs);
    return false;
  }
  beginPeriod();
  fileMidLine_ = false;
  applyRetention();
  files_.unlock();
  warned_ = false;
  return true;
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

void RotatingLog::failed(const std::string& why, int64_t retryMs) {
  retryAfterMs_ = files_.monotonicMs() + retryMs;
  warn(fillPlaceholders("Cannot rotate %s: %s; output goes on into it.", {path_, why},
                        std::string::npos),
       warned_, true);
}

void RotatingLog::warn(const std::string& text, bool& said, bool intoFile) {
  if (said) return;
  said = true;
  const std::string line = text + files_.lineEnd();
  if ((warn_.deliver == nullptr || !warn_.deliver(warn_.context, line)) && intoFile) notice_ = line;
}

}  // namespace qlx
