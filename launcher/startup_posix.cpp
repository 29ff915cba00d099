// Linux side of the start-up steps: locale, working directory, the
// single-instance lock and the raw command line.
//
// The single-instance "mutex" is an flock() on a file named after the mutex
// name. Like a Windows mutex it is released by the kernel when the process
// ends in any way (SIGKILL included), so a crashed first instance never
// blocks later starts; the lock file itself stays behind, empty. And like a
// mutex name, which is private to its logon session, the file lives where
// only its user can write: nobody else can hold it, swap it or plant
// something at its name.
#include "launcher/startup.h"

#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "launcher/arguments.h"
#include "launcher/trace.h"

namespace qlx {
namespace {

constexpr size_t kMaxFileName = 255;

// Collapses ".", ".." and repeated separators of an absolute path without
// touching the file system, as GetFullPathNameA does.
std::string normalizeAbsolute(const std::string& path) {
  std::string out;
  size_t i = 0;
  while (i < path.size()) {
    while (i < path.size() && path[i] == '/') ++i;
    size_t end = path.find('/', i);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(i, end - i);
    i = end;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      size_t cut = out.rfind('/');
      out.erase(cut == std::string::npos ? 0 : cut);
      continue;
    }
    out += '/';
    out += part;
  }
  // A trailing separator is kept, as the Windows call keeps it.
  if (out.empty() || (!path.empty() && path.back() == '/')) out += '/';
  return out;
}

// File name for a mutex name: '/' cannot appear in a file name, and '%' is
// escaped too so that distinct names never meet. Names too long for one file
// name keep a readable head and end in a hash of the whole name.
std::string lockFileName(const std::string& mutexName) {
  std::string escaped = "qlx-";
  for (char c : mutexName) {
    if (c == '/' || c == '%') {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", static_cast<unsigned char>(c));
      escaped += buf;
    } else {
      escaped += c;
    }
  }
  if (escaped.size() <= kMaxFileName) return escaped;
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (unsigned char c : mutexName) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char tail[24];
  std::snprintf(tail, sizeof tail, "-%016llx", static_cast<unsigned long long>(hash));
  return escaped.substr(0, kMaxFileName - std::strlen(tail)) + tail;
}

// A directory that only this user can write into, reached without a link.
bool isPrivateDirectory(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
         (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Where the lock files go, with a trailing '/': the session's runtime
// directory, else a directory of this user's own in /tmp, made here. Empty
// when neither is private, which someone else can cause (by taking the /tmp
// name first); `why` then says what is wrong. A start without the session's
// runtime directory (from cron, say) uses the other place, as a Windows
// start in another logon session sees other mutex names.
std::string lockDirectory(std::string& why) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/' && isPrivateDirectory(runtime)) {
    return std::string(runtime) + "/";
  }
  const std::string own = "/tmp/qlx-" + std::to_string(static_cast<unsigned long>(geteuid()));
  if (mkdir(own.c_str(), 0700) != 0 && errno != EEXIST) {
    why = own + ": " + std::strerror(errno);
    return std::string();
  }
  if (!isPrivateDirectory(own)) {
    why = own + " is not a directory that only this user can write";
    return std::string();
  }
  return own + "/";
}

// Opens the lock file, creating it when missing. Whatever stands at the
// name, the launcher neither waits nor follows it elsewhere: O_NONBLOCK so a
// FIFO or device cannot stall the open, O_NOFOLLOW so a link is refused,
// and the kind checked on what was opened. O_CLOEXEC: a child that
// inherited the descriptor would keep the lock after this process has gone.
int openLockFile(const std::string& path, std::string& why) {
  constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  for (int attempt = 0; attempt < 3; ++attempt) {
    int fd = open(path.c_str(), kFlags);
    if (fd < 0 && errno == ENOENT) {
      fd = open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0600);
      if (fd < 0 && errno == EEXIST) continue;  // created meanwhile by another start: open it
    }
    if (fd < 0) {
      why = std::to_string(errno) + " (" + path + ": " + std::strerror(errno) + ")";
      return -1;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
      close(fd);
      why = "the lock file " + path + " is not a regular file";
      return -1;
    }
    return fd;
  }
  why = "the lock file " + path + " keeps vanishing";
  return -1;
}

void sleepMilliseconds(long ms) {
  timespec ts{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

}  // namespace

void setUserLocale() { std::setlocale(LC_ALL, ""); }

// No common controls on Linux.
void initCommonControls() {}

// The path need not exist (a later chdir decides), so realpath() is not used:
// it would fail for missing directories and resolve symbolic links, which the
// Windows call does not do either. PATH_MAX plays the part of the 260-byte
// buffer.
std::string fullPathName(const std::string& candidate) {
  if (candidate.empty()) return std::string();
  std::string absolute = candidate;
  if (candidate[0] != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) return std::string();
    absolute = std::string(cwd) + "/" + candidate;
  }
  std::string result = normalizeAbsolute(absolute);
  if (result.size() >= PATH_MAX) return std::string();
  return result;
}

bool setWorkingDirectory(const std::string& path) { return chdir(path.c_str()) == 0; }

bool acquireSingleInstance(const std::string& mutexName) {
  std::string why;
  const std::string directory = lockDirectory(why);
  if (directory.empty()) {
    // Refusing to start here would let another user lock this one out, the
    // very thing the private place is for: run unguarded, and say so.
    std::fprintf(stderr, "Single-instance check skipped: %s.\n", why.c_str());
    return true;
  }
  int fd = openLockFile(directory + lockFileName(mutexName), why);
  if (fd < 0) {
    // Like a failing CreateMutexA: reported, and counted as another instance.
    std::printf("CreateMutex error: %s\n", why.c_str());
    return false;
  }
  // The Windows launcher waits 100 ms for the mutex; do the same by polling.
  for (int attempt = 0; attempt <= 10; ++attempt) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;  // fd kept open: lock held until exit
    if (errno != EWOULDBLOCK && errno != EINTR) {
      std::printf("CreateMutex error: %d\n", errno);
      break;
    }
    if (attempt < 10) sleepMilliseconds(10);
  }
  close(fd);
  return false;
}

std::string rawCommandLine(int argc, char** argv) {
  StringList arguments;
  for (int i = 0; i < argc; ++i) arguments.emplace_back(argv[i] ? argv[i] : "");
  return joinArguments(arguments);
}

uint64_t monotonicMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

}  // namespace qlx
