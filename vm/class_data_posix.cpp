// File work of the class-data archive on Linux: the XDG cache folder,
// stat(), private folders and files checked by owner and mode, a move
// that never replaces, rename() that does.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "vm/class_data_platform.h"
#include "vm/folder_check_posix.h"

namespace qlx {

namespace {

constexpr mode_t kOthersWrite = S_IWGRP | S_IWOTH;

// A user-private group: named after the user, the user's primary group,
// with no member listed but the user.
bool groupPrivateToUser(gid_t group, uid_t user) {
  std::vector<char> buffer(16384);
  passwd pw{};
  passwd* account = nullptr;
  if (getpwuid_r(user, &pw, buffer.data(), buffer.size(), &account) != 0 || account == nullptr ||
      account->pw_gid != group) {
    return false;
  }
  const std::string name = account->pw_name;
  std::vector<char> groupBuffer(16384);
  struct group gr {};
  struct group* found = nullptr;
  if (getgrgid_r(group, &gr, groupBuffer.data(), groupBuffer.size(), &found) != 0 ||
      found == nullptr || name != found->gr_name) {
    return false;
  }
  for (char** member = found->gr_mem; member != nullptr && *member != nullptr; ++member) {
    if (name != *member) return false;
  }
  return true;
}

const char* problemOf(const std::string& path, PathRole role, bool& missing) {
  struct stat info {};
  // Links are followed above the root and at it (the user may keep the
  // cache elsewhere), never below it.
  const bool follow = role == PathRole::Above || role == PathRole::Root;
  const int rc = follow ? stat(path.c_str(), &info) : lstat(path.c_str(), &info);
  missing = rc != 0 && errno == ENOENT;
  if (rc != 0) return missing ? "missing" : "cannot be read";
  const bool groupWrite = (info.st_mode & S_IWGRP) != 0;
  return posixPathProblem(info, geteuid(), role,
                          groupWrite && groupPrivateToUser(info.st_gid, geteuid()));
}

}  // namespace

const char kPathSeparator = '/';
const char* const kJavaLauncher = "bin/java";

std::string defaultCacheRoot(Os& os) {
  const std::optional<std::string> cache = os.getEnv("XDG_CACHE_HOME");
  // The base directory specification ignores a relative value.
  if (cache && !cache->empty() && (*cache)[0] == '/') return *cache;
  const std::optional<std::string> home = os.getEnv("HOME");
  if (home && !home->empty() && (*home)[0] == '/') return *home + "/.cache";
  return {};
}

const char* posixPathProblem(const struct stat& info, uid_t user, PathRole role,
                             bool groupPrivate) {
  const mode_t othersWrite = info.st_mode & (groupPrivate ? S_IWOTH : kOthersWrite);
  if (role == PathRole::File) {
    if (!S_ISREG(info.st_mode)) return "is not a plain file";
    if (info.st_uid != user) return "is owned by another user";
    if ((info.st_mode & kOthersWrite) != 0) return "is writable by other users";
    // Another name elsewhere could be written through.
    if (info.st_nlink != 1) return "has more than one name";
    return nullptr;
  }
  if (S_ISLNK(info.st_mode)) return "is a symbolic link";
  if (!S_ISDIR(info.st_mode)) return "is not a folder";
  if (role == PathRole::Above) {
    if (info.st_uid != user && info.st_uid != 0) return "is owned by another user";
    if (othersWrite != 0 && (info.st_mode & S_ISVTX) == 0) {
      return "is writable by other users and not sticky";
    }
    return nullptr;
  }
  if (info.st_uid != user) return "is owned by another user";
  if (othersWrite != 0) return "is writable by other users";
  return nullptr;
}

const char* securePrivateFolders(const std::string& rootPath, const std::string& folderPath,
                                 std::string& where) {
  std::string root = rootPath, folder = folderPath;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (root.empty() || root[0] != '/' ||
      (folder != root && folder.compare(0, root.size() + 1, root + "/") != 0)) {
    where = folder;
    return "not an absolute folder";
  }
  // Every folder on the way, from the top: above the root, the root, below.
  std::vector<std::string> chain;
  for (size_t at = folder.find('/', 1); at != std::string::npos; at = folder.find('/', at + 1)) {
    if (at > 1) chain.push_back(folder.substr(0, at));
  }
  chain.push_back(folder);
  bool creating = false;
  for (const std::string& path : chain) {
    const PathRole role = path.size() < root.size()    ? PathRole::Above
                          : path.size() == root.size() ? PathRole::Root
                                                       : PathRole::Below;
    if (creating || access(path.c_str(), F_OK) != 0) {
      // What is missing is made here, for the user alone.
      creating = true;
      if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        where = path;
        return "cannot be created";
      }
    }
    bool missing = false;
    if (const char* problem = problemOf(path, role, missing)) {
      where = path;
      return problem;
    }
  }
  return nullptr;
}

bool filePrivate(const std::string& path) {
  bool missing = false;
  return problemOf(path, PathRole::File, missing) == nullptr;
}

void makePrivate(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  struct stat info {};
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid()) {
    fchmod(fd, info.st_mode & S_IRWXU);
  }
  close(fd);
}

bool createMarker(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  close(fd);
  return true;
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

size_t readHead(const std::string& path, uint8_t* buffer, size_t size) {
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
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
  // Of two runs that finish at once, the first one's file stays. The
  // exclusive rename leaves no moment with two names for the file; a
  // second run that met one would take the file for foreign and replace it.
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
  // A file system without it: link() fails as well when `to` exists.
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
