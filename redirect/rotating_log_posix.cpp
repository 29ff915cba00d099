// Linux side of rotated logs: the file operations of RotatingLog, the lock
// (a file beside the log that only the user can open: "app.log.lock"; the
// kernel drops a crashed holder's lock), and the pipe with its draining
// thread.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

#include "redirect/log_open.h"
#include "redirect/log_pump.h"

extern char** environ;

namespace qlx {

namespace {

// How long the start of a line waits for its end before it is written as it is.
constexpr int kPartialLineWaitMs = 500;

// Reads smaller than this are followed by a pause of kGatherUs.
constexpr size_t kSmallRead = 16 * 1024;
constexpr useconds_t kGatherUs = 2000;

// A rotation takes milliseconds; a holder that keeps the lock this long is stuck.
constexpr int64_t kLockWaitMs = 2000;

int64_t monotonicNowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

class PosixLogFiles : public LogFileSystem {
 public:
  explicit PosixLogFiles(std::string path) : path_(std::move(path)), lockPath_(path_ + ".lock") {}
  ~PosixLogFiles() override {
    if (fd_ >= 0) close(fd_);
    if (lockFd_ >= 0) close(lockFd_);
  }

  int fd() const { return fd_; }

  std::string open() override {
    OpenedLog opened = openLogForAppend(path_, FinalLink::Refuse);
    if (opened.handle < 0) return opened.problem;
    if (fd_ >= 0) close(fd_);
    fd_ = static_cast<int>(opened.handle);
    return std::string();
  }

  size_t write(const char* data, size_t length) override {
    size_t written = 0;
    while (written < length) {
      const ssize_t n = ::write(fd_, data + written, length - written);
      if (n > 0) {
        written += static_cast<size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        error_ = n < 0 ? errno : ENOSPC;
        break;
      }
    }
    return written;
  }

  std::string lastError() override { return systemErrorText(static_cast<unsigned long>(error_)); }

  bool takeBack(size_t bytes) override {
    // After an appending write the offset is where that write ended; when
    // the file ends there, nobody has written after it. (Another writer
    // could still append between the check and the cut; on a disk that
    // is full, its writes fail as ours do.)
    const off_t end = lseek(fd_, 0, SEEK_CUR);
    struct stat info;
    if (end < static_cast<off_t>(bytes) || fstat(fd_, &info) != 0 || info.st_size != end) return false;
    return ftruncate(fd_, end - static_cast<off_t>(bytes)) == 0;
  }

  uint64_t size() override {
    struct stat info;
    return fstat(fd_, &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
  }

  int64_t modified() override {
    struct stat info;
    return fstat(fd_, &info) == 0 ? static_cast<int64_t>(info.st_mtime) : wallClock();
  }

  bool replacedOnDisk() override {
    struct stat held, named;
    if (fstat(fd_, &held) != 0) return false;
    if (lstat(path_.c_str(), &named) != 0) return true;
    return held.st_dev != named.st_dev || held.st_ino != named.st_ino;
  }

  std::string lock() override {
    const int64_t deadline = monotonicMs() + kLockWaitMs;
    for (;;) {
      if (lockFd_ < 0) {
        std::string why = openLockFile();
        if (!why.empty()) return why;
      }
      if (flock(lockFd_, LOCK_EX | LOCK_NB) == 0) {
        // Removed and made again meanwhile: a lock on a file that nobody
        // else opens any more locks nothing.
        if (stillNamed()) return std::string();
        close(lockFd_);
        lockFd_ = -1;
        continue;
      }
      if (errno != EWOULDBLOCK && errno != EINTR) {
        return "its lock file " + lockPath_ + " cannot be locked: " + systemErrorText(errno);
      }
      if (monotonicMs() >= deadline) return "another process held the rotation lock for 2 s";
      usleep(10000);
    }
  }

  void unlock() override { flock(lockFd_, LOCK_UN); }

  std::string movable() override { return std::string(); }

  bool exists(const std::string& path) override {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
  }

  std::string apply(const FileStep& step) override {
    int rc = step.to.empty() ? unlink(step.from.c_str())
                             : rename(step.from.c_str(), step.to.c_str());
    return rc == 0 ? std::string() : systemErrorText(errno);
  }

  std::vector<FoundFile> listFolder() override {
    std::vector<FoundFile> found;
    std::string folder = folderOf(path_);
    const std::string prefix = fileNameOf(path_) + ".";
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return found;
    while (dirent* entry = readdir(dir)) {
      if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) != 0) continue;
      struct stat info;
      if (lstat((folder + entry->d_name).c_str(), &info) != 0) continue;
      found.push_back({entry->d_name, static_cast<int64_t>(info.st_mtime)});
    }
    closedir(dir);
    return found;
  }

  int64_t wallClock() override { return static_cast<int64_t>(std::time(nullptr)); }
  int64_t monotonicMs() override { return monotonicNowMs(); }
  void pauseMs(int ms) override { usleep(static_cast<useconds_t>(ms) * 1000); }
  const char* lineEnd() override { return "\n"; }

 private:
  // Only the user can open it (0600, never through a link): anyone who
  // could open it could hold the lock.
  std::string openLockFile() {
    const int fd =
        ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0) {
      return "its lock file " + lockPath_ + " cannot be opened: " +
             (errno == ELOOP ? std::string("it is a symbolic link") : systemErrorText(errno));
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid()) {
      close(fd);
      return "its lock file " + lockPath_ + " belongs to another user";
    }
    if ((info.st_mode & 077) != 0) fchmod(fd, 0600);
    lockFd_ = fd;
    return std::string();
  }

  bool stillNamed() {
    struct stat held, named;
    return fstat(lockFd_, &held) == 0 && lstat(lockPath_.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
  }

  std::string path_;
  std::string lockPath_;
  int fd_ = -1;
  int lockFd_ = -1;
  int error_ = 0;
};

// Gives the pipe's reading end to `cat`, which appends what it reads to
// `file` until the last writer has closed its end.
void handOverToCat(int readFd, int file) {
  fcntl(readFd, F_SETFL, fcntl(readFd, F_GETFL) & ~O_NONBLOCK);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, readFd, 0);
  posix_spawn_file_actions_adddup2(&actions, file, 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  // Default dispositions and no blocked signals, whatever the VM set up.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  char name[] = "cat";
  char* argv[] = {name, nullptr};
  pid_t child;
  for (const char* program : {"/bin/cat", "/usr/bin/cat"}) {
    if (posix_spawn(&child, program, &actions, &attributes, argv, environ) == 0) break;
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
}

}  // namespace

struct LogPump::State {
  State(const std::string& path, const RotationPolicy& policy, RotatingLog::Warn warn)
      : files(path), log(files, path, policy, warn) {}

  // Reads what the pipe holds right now, without waiting, until `deadline`
  // at the latest. Called with `guard` held, so that the thread and
  // finish() never hold bytes the other has not written yet. False at the
  // end of the input (every writer has gone).
  bool drainAvailable(size_t& taken, int64_t deadline) {
    for (;;) {
      ssize_t n = read(readFd, buffer, sizeof buffer);
      if (n > 0) {
        log.write(buffer, static_cast<size_t>(n));
        taken += static_cast<size_t>(n);
        if (monotonicNowMs() >= deadline) return true;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      return n < 0 && errno == EAGAIN;
    }
  }

  void run() {
    bool holding = false;
    for (;;) {
      // Without a timeout while nothing is held: a quiet program costs nothing.
      pollfd waits[2] = {{readFd, POLLIN, 0}, {wakeRead, POLLIN, 0}};
      int ready = poll(waits, 2, holding ? kPartialLineWaitMs : -1);
      if (ready < 0 && errno != EINTR) return;
      size_t taken = 0;
      {
        std::lock_guard<std::timed_mutex> lock(guard);
        if (finished) return;
        if (ready == 0) log.flushPartial();
        // A writer that never pauses must not keep the thread from
        // flushing and the final drain from taking over.
        const bool open = drainAvailable(taken, monotonicNowMs() + 200);
        if (!open) {  // every writer has gone
          log.flushPartial();
          return;
        }
        holding = log.holdsPartial();
      }
      // A program printing line by line would otherwise wake this thread
      // for every line; a moment's pause lets the lines gather in the pipe
      // and go to the file in one write. Only after output came: a quiet
      // program does not wake it.
      if (taken > 0 && taken < kSmallRead) usleep(kGatherUs);
    }
  }

  PosixLogFiles files;
  RotatingLog log;
  int readFd = -1, writeFd = -1, wakeRead = -1, wakeWrite = -1;
  std::timed_mutex guard;
  bool finished = false;
  std::thread thread;
  char buffer[64 * 1024];
};

std::unique_ptr<LogPump> LogPump::start(const std::string& path, const RotationPolicy& policy,
                                        RotatingLog::Warn warn, std::string& problem) {
  std::unique_ptr<State> state(new State(path, policy, warn));
  problem = state->log.start();
  if (!problem.empty()) return nullptr;
  int data[2], wake[2];
  if (pipe2(data, O_CLOEXEC) != 0) {
    problem = systemErrorText(errno);
    return nullptr;
  }
  if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    problem = systemErrorText(errno);
    close(data[0]);
    close(data[1]);
    return nullptr;
  }
  // Only the reading side waits in poll(); reads never block, so the
  // final drain cannot hang on a pipe that other processes keep open.
  fcntl(data[0], F_SETFL, fcntl(data[0], F_GETFL) | O_NONBLOCK);
  // Above the standard descriptors, which the caller replaces with these.
  state->readFd = fcntl(data[0], F_DUPFD_CLOEXEC, 3);
  state->writeFd = fcntl(data[1], F_DUPFD_CLOEXEC, 3);
  close(data[0]);
  close(data[1]);
  state->wakeRead = wake[0];
  state->wakeWrite = wake[1];
  fcntl(state->writeFd, F_SETPIPE_SZ, 1 << 20);  // room for bursts; a hint only
  State* raw = state.get();
  state->thread = std::thread([raw] { raw->run(); });
  // A name that shows in ps and /proc, where its CPU time can be read.
  pthread_setname_np(state->thread.native_handle(), "qlx-logpump");
  return std::unique_ptr<LogPump>(new LogPump(std::move(state)));
}

LogPump::LogPump(std::unique_ptr<State> state) : state_(std::move(state)) {}

LogPump::~LogPump() {
  finish(2000);
  if (!state_->thread.joinable()) {
    for (int fd : {state_->readFd, state_->writeFd, state_->wakeRead, state_->wakeWrite}) {
      if (fd >= 0) close(fd);
    }
  } else {
    // The thread is stuck (a write that does not return): it keeps what
    // it uses, and the process's end takes it all.
    state_.release();
  }
}

intptr_t LogPump::writeEnd() const { return state_->writeFd; }

intptr_t LogPump::currentFile() const { return state_->files.fd(); }

void LogPump::finish(uint32_t boundMs) {
  State& s = *state_;
  const int64_t deadline = monotonicNowMs() + boundMs;
  std::unique_lock<std::timed_mutex> lock(s.guard, std::defer_lock);
  // A thread stuck inside a write holds the guard: then the bound passes
  // and the pipe's contents stay where they are.
  if (!lock.try_lock_for(std::chrono::milliseconds(boundMs))) return;
  if (!s.finished) {
    s.log.freeze();
    size_t taken = 0;
    s.drainAvailable(taken, deadline);
    s.finished = true;
    // The standard descriptors already point at the file, so with our own
    // end closed whatever still writes into the pipe is another process:
    // a child that inherited them. It would die of SIGPIPE once the
    // reader is gone; `cat` reads on for it.
    close(s.writeFd);
    s.writeFd = -1;
    if (s.drainAvailable(taken, deadline)) {
      s.log.flushPartial();
      handOverToCat(s.readFd, s.files.fd());
    } else {
      s.log.flushPartial();
    }
  }
  lock.unlock();
  char wake = 1;
  ssize_t ignored = write(s.wakeWrite, &wake, 1);
  (void)ignored;
  if (s.thread.joinable() && s.thread.get_id() != std::this_thread::get_id()) s.thread.join();
}

}  // namespace qlx
