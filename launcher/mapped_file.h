// A read-only view of a whole file (mapped_file_win.cpp, mapped_file_posix.cpp).
#pragma once

#include <cstdint>
#include <string>

namespace qlx {

// Names the running executable's own file (see MappedFile(OwnExecutable)).
struct OwnExecutable {};

class MappedFile {
 public:
  MappedFile() = default;
  explicit MappedFile(const std::string& path);  // empty view on failure
  // The executable's own file, opened by the name the system keeps for it
  // (the wide name on Windows), so that a folder the ANSI code page cannot
  // spell never makes the program unreadable to itself.
  explicit MappedFile(OwnExecutable);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  bool valid() const { return data_ != nullptr || (opened_ && size_ == 0); }
  const uint8_t* data() const { return data_; }
  uint64_t size() const { return size_; }

 private:
  explicit MappedFile(void* openedFile);  // Windows: maps a file handle it then owns

  const uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
  bool opened_ = false;
  void* handle_ = nullptr;  // platform mapping handle, if any
};

}  // namespace qlx
