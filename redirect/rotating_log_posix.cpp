// Linux side of rotated logs: the file system operations of RotatingLog
// (the lock is an flock on the log's folder, so that it needs no file of
// its own and a crashed holder releases it) and the pipe with its draining
// thread.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

#include "redirect/log_pump.h"

namespace qlx {

namespace {

// How long the start of a line waits for its end before it is written as it is.
constexpr int kPartialLineWaitMs = 500;

// Reads smaller than this are followed by a pause of kGatherUs.
constexpr size_t kSmallRead = 16 * 1024;
constexpr useconds_t kGatherUs = 2000;

std::string errorText(int error) { return std::strerror(error); }

class PosixLogFiles : public LogFileSystem {
 public:
  explicit PosixLogFiles(std::string path) : path_(std::move(path)) {}
  ~PosixLogFiles() override {
    if (fd_ >= 0) close(fd_);
    if (folderFd_ >= 0) close(folderFd_);
  }

  int fd() const { return fd_; }

  bool open() override {
    int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    if (fd <= 2) {  // stays clear of the standard descriptors it may replace
      int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
      close(fd);
      if (moved < 0) return false;
      fd = moved;
    }
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
    return true;
  }

  bool write(const char* data, size_t length) override {
    while (length > 0) {
      ssize_t n = ::write(fd_, data, length);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      data += n;
      length -= static_cast<size_t>(n);
    }
    return true;
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
    if (stat(path_.c_str(), &named) != 0) return true;
    return held.st_dev != named.st_dev || held.st_ino != named.st_ino;
  }

  bool lock() override {
    if (folderFd_ < 0) {
      std::string folder = folderOf(path_);
      if (folder.empty()) folder = ".";
      folderFd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (folderFd_ < 0) return false;
    }
    while (flock(folderFd_, LOCK_EX) != 0) {
      if (errno != EINTR) return false;
    }
    return true;
  }

  void unlock() override { flock(folderFd_, LOCK_UN); }

  std::string movable() override { return std::string(); }

  bool exists(const std::string& path) override {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
  }

  std::string apply(const FileStep& step) override {
    int rc = step.to.empty() ? unlink(step.from.c_str())
                             : rename(step.from.c_str(), step.to.c_str());
    return rc == 0 ? std::string() : errorText(errno);
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
      if (stat((folder + entry->d_name).c_str(), &info) != 0) continue;
      found.push_back({entry->d_name, static_cast<int64_t>(info.st_mtime)});
    }
    closedir(dir);
    return found;
  }

  int64_t wallClock() override { return static_cast<int64_t>(std::time(nullptr)); }

  int64_t monotonicMs() override {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
  }

 private:
  std::string path_;
  int fd_ = -1;
  int folderFd_ = -1;
};

}  // namespace

struct LogPump::State {
  State(const std::string& path, const RotationPolicy& policy, RotatingLog::Warn warn)
      : files(path), log(files, path, policy, std::move(warn)) {}

  // Reads what the pipe holds right now, without waiting. Called with
  // `guard` held, so that the thread and finish() never hold bytes the
  // other has not written yet.
  bool drainAvailable(size_t& taken) {
    for (;;) {
      ssize_t n = read(readFd, buffer, sizeof buffer);
      if (n > 0) {
        log.write(buffer, static_cast<size_t>(n));
        taken += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      return n < 0 && errno == EAGAIN;  // false at the end of the input
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
        std::lock_guard<std::mutex> lock(guard);
        if (finished) return;
        if (ready == 0) log.flushPartial();
        const bool open = drainAvailable(taken);
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
  std::mutex guard;
  bool finished = false;
  std::thread thread;
  char buffer[64 * 1024];
};

std::unique_ptr<LogPump> LogPump::start(const std::string& path, const RotationPolicy& policy,
                                        RotatingLog::Warn warn) {
  std::unique_ptr<State> state(new State(path, policy, std::move(warn)));
  if (!state->log.start()) return nullptr;
  int data[2], wake[2];
  if (pipe2(data, O_CLOEXEC) != 0) return nullptr;
  if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
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
  finish();
  for (int fd : {state_->readFd, state_->writeFd, state_->wakeRead, state_->wakeWrite}) {
    if (fd >= 0) close(fd);
  }
}

intptr_t LogPump::writeEnd() const { return state_->writeFd; }

intptr_t LogPump::currentFile() const { return state_->files.fd(); }

void LogPump::finish() {
  State& s = *state_;
  {
    std::lock_guard<std::mutex> lock(s.guard);
    if (!s.finished) {
      s.log.freeze();
      size_t taken = 0;
      s.drainAvailable(taken);
      s.log.flushPartial();
      s.finished = true;
    }
  }
  char wake = 1;
  ssize_t ignored = write(s.wakeWrite, &wake, 1);
  (void)ignored;
  if (s.thread.joinable() && s.thread.get_id() != std::this_thread::get_id()) s.thread.join();
}

}  // namespace qlx
