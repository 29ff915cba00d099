// A read-only view of a whole file on Linux (mmap).
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "launcher/mapped_file.h"

namespace qlx {

MappedFile::MappedFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  struct stat info;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    opened_ = true;
    size_ = static_cast<uint64_t>(info.st_size);
    if (size_ > 0) {
      void* view = mmap(nullptr, static_cast<size_t>(size_), PROT_READ, MAP_PRIVATE, fd, 0);
      if (view == MAP_FAILED) {
        opened_ = false;
        size_ = 0;
      } else {
        data_ = static_cast<const uint8_t*>(view);
      }
    }
  }
  close(fd);  // the mapping keeps the file's pages
}

MappedFile::MappedFile(OwnExecutable) : MappedFile(std::string("/proc/self/exe")) {}

MappedFile::~MappedFile() {
  handle_ = nullptr;  // Linux needs no mapping handle beside the view
  if (data_ != nullptr) munmap(const_cast<uint8_t*>(data_), static_cast<size_t>(size_));
}

}  // namespace qlx
