// Linux redirection of standard output and standard error: file targets are
// opened for appending and pipe targets ("|command") feed the standard input
// of `/bin/sh -c command`; the target descriptor is dup2()ed onto 1 or 2, so
// the launcher's stdio, the JVM's System.out/err and child processes all
// write there. The previous descriptors are put back at process exit.
//
// A file target that is rotated is fed through a pipe (LogPump): the pipe
// is what gets dup2()ed onto 1 or 2, and its thread writes into the file.
#include "redirect/redirect.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <unistd.h>
#include <vector>

#include "redirect/log_open.h"
#include "redirect/log_pump.h"

extern char** environ;

namespace qlx {
namespace {

struct Target {
  std::string name;
  int fd = -1;          // -1 when opening failed
  bool isPipe = false;
  std::unique_ptr<LogPump> pump;  // rotated file targets: fd is the pump's pipe
  std::string problem;  // why the file could not be opened
  // Where standard error goes: a rotated file's warnings go there, unless
  // that is this very file.
  const Target* const* errorTarget = nullptr;
};

bool warnOnStandardError(void* context, const std::string& line) {
  const auto* self = static_cast<const Target*>(context);
  if (*self->errorTarget == self) return false;  // it goes into this very log
  ssize_t ignored = write(2, line.data(), line.size());
  (void)ignored;
  return true;
}

// How long the last drain of a rotated log may take at the process's end.
constexpr uint32_t kFinalDrainMs = 5000;

// A process started with a standard descriptor closed gets that number back
// from the next open(); a target there would be overwritten by the dup2()
// of the other stream. Targets therefore live above 2.
int aboveStandard(int fd) {
  if (fd < 0 || fd > 2) return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return moved;
}

// Starts the command with the read end of a new pipe as its standard input
// and /dev/null as its output; returns the write end, or -1.
int openPipeTarget(const std::string& command) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return -1;
  ends[0] = aboveStandard(ends[0]);
  ends[1] = aboveStandard(ends[1]);
  if (ends[0] < 0 || ends[1] < 0) {
    if (ends[0] >= 0) close(ends[0]);
    if (ends[1] >= 0) close(ends[1]);
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[0], 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  // The reader must start with default signal dispositions even though this
  // process ignores SIGPIPE from here on.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t child;
  const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
  int error = posix_spawn(&child, "/bin/sh", &actions, &attributes,
                          const_cast<char* const*>(argv), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close(ends[0]);
  if (error != 0) {
    close(ends[1]);
    return -1;
  }
  // A reader that ends early must not kill the launcher (and the application
  // with it) on the next write: the write fails with EPIPE instead, as a
  // write into a broken pipe does on Windows. The JVM installs its own
  // SIGPIPE handler later, which also leaves the process alive.
  std::signal(SIGPIPE, SIG_IGN);
  return ends[1];
}

class Redirector {
 public:
  ~Redirector() { restore(); }

  void setRotation(const RotationPolicy& policy) { rotation_ = policy; }

  std::string redirect(int streamFd, FILE* stream, const std::string& text) {
    const size_t known = targets_.size();
    Target& target = findOrOpen(text);
    Saved& saved = streamFd == 1 ? stdout_ : stderr_;
    if (target.fd < 0) return targets_.size() > known ? target.problem : std::string();
    if (saved.redirected) return std::string();
    saved.target = &target;
    std::fflush(stream);
    saved.fd = fcntl(streamFd, F_DUPFD_CLOEXEC, 3);  // -1 when the stream was closed
    if (dup2(target.fd, streamFd) < 0) {
      if (saved.fd >= 0) close(saved.fd);
      saved.fd = -1;
      return std::string();
    }
    saved.redirected = true;
    // Files get every write at once; a pipe keeps the runtime's buffering.
    if (!target.isPipe) std::setvbuf(stream, nullptr, _IONBF, 0);
    return std::string();
  }

  // Flushes what the runtime still buffers into the targets, puts the
  // previous descriptors back and closes the targets, so that a pipe's
  // reader sees the end of its input.
  void restore() {
    finishPumps();
    putBack(1, stdout_);
    putBack(2, stderr_);
    for (auto& target : targets_) {
      if (target->fd >= 0 && !target->pump) close(target->fd);  // a pump closes its own
    }
    targets_.clear();
  }

  // The last output of rotated logs reaches their files: the standard
  // descriptors are pointed at the files themselves, so nothing written
  // from here on can fill a pipe that nobody drains any more, and then the
  // pipes are emptied.
  void finishPumps(uint32_t boundMs = kFinalDrainMs, bool flushRuntime = true) {
    if (flushRuntime) {
      std::fflush(stdout);
      std::fflush(stderr);
    }
    for (auto& target : targets_) {
      if (!target->pump) continue;
      for (int streamFd : {1, 2}) {
        Saved& saved = streamFd == 1 ? stdout_ : stderr_;
        if (saved.redirected && saved.target == target.get()) {
          dup2(static_cast<int>(target->pump->currentFile()), streamFd);
        }
      }
      target->pump->finish(boundMs);
    }
  }

 private:
  struct Saved {
    bool redirected = false;
    int fd = -1;
    Target* target = nullptr;
  };

  Target& findOrOpen(const std::string& text) {
    // Byte-for-byte name comparison: two streams naming the same text share
    // one target and one descriptor.
    for (auto& target : targets_) {
      if (target->name == text) return *target;
    }
    auto target = std::make_unique<Target>();
    target->name = text;
    if (!text.empty() && text[0] == '|') {
      target->isPipe = true;
      target->fd = openPipeTarget(text.substr(1));
    } else if (rotation_.enabled()) {
      target->errorTarget = &stderr_.target;
      target->pump =
          LogPump::start(text, rotation_, {warnOnStandardError, target.get()}, target->problem);
      if (target->pump) target->fd = static_cast<int>(target->pump->writeEnd());
    } else {
      // Close-on-exec: only the copies on 1 and 2 are meant to reach children.
      OpenedLog opened = openLogForAppend(text, FinalLink::FollowOwn);
      target->fd = static_cast<int>(opened.handle);
      target->problem = opened.problem;
    }
    targets_.push_back(std::move(target));
    return *targets_.back();
  }

  static void putBack(int streamFd, Saved& saved) {
    if (!saved.redirected) return;
    if (saved.fd >= 0) {
      dup2(saved.fd, streamFd);
      close(saved.fd);
    } else {
      close(streamFd);
    }
    saved = Saved();
  }

  std::vector<std::unique_ptr<Target>> targets_;
  RotationPolicy rotation_;
  Saved stdout_;
  Saved stderr_;
};

// Built on first use, destroyed at process exit (after main returns, or when
// the JVM calls exit() for System.exit), which restores the streams.
Redirector& redirector() {
  static Redirector instance;
  return instance;
}

}  // namespace

void setLogRotation(const RotationPolicy& policy) { redirector().setRotation(policy); }

void finishRotatedLogs() { redirector().finishPumps(); }

void drainRotatedLogs(uint32_t boundMs) { redirector().finishPumps(boundMs, false); }

std::string redirectStdout(const std::string& target) {
  return redirector().redirect(1, stdout, target);
}

std::string redirectStderr(const std::string& target) {
  return redirector().redirect(2, stderr, target);
}

void sayLogNotOpened(bool standardOutput, const std::string& line, const std::string& fallback) {
  const std::string text = line + "\n";
  int fd = -1;
  for (int candidate : {standardOutput ? 1 : 2, 2}) {
    if (fd < 0 && fcntl(candidate, F_GETFD) != -1) fd = candidate;
  }
  if (fd < 0 && !fallback.empty()) {
    fd = static_cast<int>(openLogForAppend(fallback, FinalLink::FollowOwn).handle);
  }
  if (fd < 0) return;
  ssize_t ignored = write(fd, text.data(), text.size());
  (void)ignored;
  if (fd > 2) close(fd);
}

void writeHandleByte(intptr_t handle, uint8_t byte) {
  // Anything that cannot be a descriptor is ignored, like a bad handle.
  if (handle <= 0 || handle > INT_MAX) return;
  ssize_t ignored = write(static_cast<int>(handle), &byte, 1);
  (void)ignored;
}

}  // namespace qlx
