// The executable's own file on Linux: pread() on /proc/self/exe, which
// names the running file even after it was renamed.
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "launcher/own_file.h"

namespace qlx {

OwnFile::OwnFile() {
  const int fd = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  descriptor_ = fd;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return;
  size_ = static_cast<uint64_t>(info.st_size);
  valid_ = true;
  // Read once, front to back: the system may read ahead further.
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
}

OwnFile::~OwnFile() {
  if (descriptor_ >= 0) close(static_cast<int>(descriptor_));
}

bool OwnFile::readAt(uint64_t offset, uint8_t* out, size_t size) const {
  if (!valid_) return false;
  while (size > 0) {
    const ssize_t n = pread(static_cast<int>(descriptor_), out, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // an error, or the file ends too soon
    out += n;
    offset += static_cast<uint64_t>(n);
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace qlx
