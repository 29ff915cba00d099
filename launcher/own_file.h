// The running executable's own file, open for reading at any offset
// (own_file_win.cpp, own_file_posix.cpp). The integrity check reads the whole
// file through it once per start.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qlx {

class OwnFile {
 public:
  // Opened by the name the system keeps for the running executable (the wide
  // name on Windows), as MappedFile(OwnExecutable) is.
  OwnFile();
  ~OwnFile();
  OwnFile(const OwnFile&) = delete;
  OwnFile& operator=(const OwnFile&) = delete;

  bool valid() const { return valid_; }
  uint64_t size() const { return size_; }
  // Exactly `size` bytes at `offset`, or false.
  bool readAt(uint64_t offset, uint8_t* out, size_t size) const;

 private:
  bool valid_ = false;
  uint64_t size_ = 0;
  intptr_t descriptor_ = -1;  // a file descriptor, or a HANDLE on Windows
};

}  // namespace qlx
