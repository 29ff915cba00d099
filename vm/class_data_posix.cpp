// File work of the class-data archive on Linux: the XDG cache folder,
// stat(), mkdir(), a link() that never replaces, rename() that does.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "vm/class_data.h"

namespace qlx {

std::string defaultClassDataFolder(Os& os) {
  const std::optional<std::string> cache = os.getEnv("XDG_CACHE_HOME");
  // The base directory specification ignores a relative value.
  if (cache && !cache->empty() && (*cache)[0] == '/') return *cache + "/qlx/classdata";
  const std::optional<std::string> home = os.getEnv("HOME");
  if (home && !home->empty()) return *home + "/.cache/qlx/classdata";
  return {};
}

bool stampOf(const std::string& path, FileStamp& out) {
  struct stat info {};
  out = FileStamp{};
  if (stat(path.c_str(), &info) != 0) return false;
  out.exists = true;
  out.isDirectory = S_ISDIR(info.st_mode);
  out.size = static_cast<uint64_t>(info.st_size);
  out.mtime = static_cast<int64_t>(info.st_mtime);
  return true;
}

bool makeFolders(const std::string& path) {
  for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
    mkdir(path.substr(0, at).c_str(), 0700);
  }
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool canCreateFile(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  close(fd);
  unlink(path.c_str());
  return true;
}

size_t readHead(const std::string& path, uint8_t* buffer, size_t size) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = read(fd, buffer + done, size - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
  return done;
}

bool moveFile(const std::string& from, const std::string& to, bool replace) {
  if (replace) return rename(from.c_str(), to.c_str()) == 0;
  // link() fails when `to` exists: of two runs that finish at once, the
  // first one's archive stays.
  if (link(from.c_str(), to.c_str()) != 0) return false;
  unlink(from.c_str());
  return true;
}

void removeFile(const std::string& path) { unlink(path.c_str()); }

uint32_t currentProcessId() { return static_cast<uint32_t>(getpid()); }

bool processRunning(uint32_t processId) {
  return kill(static_cast<pid_t>(processId), 0) == 0 || errno == EPERM;
}

}  // namespace qlx
