// Linux side of opening logs: O_NOFOLLOW for the final name, the owner of a
// link looked at before it is followed, and the owner of the file checked
// on the descriptor itself, so nothing can be swapped in between.
#include "redirect/log_open.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "redirect/log_rotation.h"

namespace qlx {

namespace {

// O_NONBLOCK: a pipe planted under the log's name fails at once (ENXIO)
// instead of waiting for a reader forever.
constexpr int kAppend = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK;

std::string withoutTrailingSlash(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

// mkdir -p, with the permissions the umask leaves.
bool makeFolders(const std::string& folder) {
  if (folder.empty() || folder == "/") return false;
  if (mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST) return true;
  if (errno != ENOENT) return false;
  const std::string parent = withoutTrailingSlash(folderOf(folder));
  if (parent.empty() || parent == folder || !makeFolders(parent)) return false;
  return mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST;
}

std::string openError(int error) {
  if (error == ENXIO) return "it is a pipe that nothing reads";
  return systemErrorText(static_cast<unsigned long>(error));
}

}  // namespace

std::string systemErrorText(unsigned long error) { return std::strerror(static_cast<int>(error)); }

OpenedLog openLogForAppend(const std::string& path, FinalLink link) {
  int fd = open(path.c_str(), kAppend | O_NOFOLLOW, 0644);
  if (fd < 0 && errno == ENOENT && makeFolders(withoutTrailingSlash(folderOf(path)))) {
    fd = open(path.c_str(), kAppend | O_NOFOLLOW, 0644);
  }
  if (fd < 0 && errno == ELOOP) {
    if (link == FinalLink::Refuse) return {-1, "it is a symbolic link"};
    struct stat linked;
    if (lstat(path.c_str(), &linked) == 0 && S_ISLNK(linked.st_mode) &&
        linked.st_uid != geteuid() && linked.st_uid != 0) {
      return {-1, "it is a symbolic link that belongs to another user"};
    }
    fd = open(path.c_str(), kAppend, 0644);
  }
  if (fd < 0) return {-1, openError(errno)};
  struct stat info;
  if (fstat(fd, &info) != 0 || (S_ISREG(info.st_mode) && info.st_uid != geteuid())) {
    close(fd);
    return {-1, "it belongs to another user"};
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (fd <= 2) {
    // Clear of the standard descriptors the caller may replace with it.
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    if (moved < 0) return {-1, openError(errno)};
    fd = moved;
  }
  return {fd, std::string()};
}

}  // namespace qlx
