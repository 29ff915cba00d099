// The executable's own file on Windows: ReadFile at explicit offsets on a
// handle opened by the executable's wide name.
#include "launcher/own_file.h"

#include "launcher/module_path_win.h"

namespace qlx {

OwnFile::OwnFile() {
  // Shared for writing too, as the launcher's other opens of its own file.
  HANDLE file = CreateFileW(wideChars(executablePathWide()), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  descriptor_ = reinterpret_cast<intptr_t>(file);
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size) || size.QuadPart < 0) return;
  size_ = static_cast<uint64_t>(size.QuadPart);
  valid_ = true;
}

OwnFile::~OwnFile() {
  if (descriptor_ != -1) CloseHandle(reinterpret_cast<HANDLE>(descriptor_));
}

bool OwnFile::readAt(uint64_t offset, uint8_t* out, size_t size) const {
  if (!valid_) return false;
  while (size > 0) {
    // The offset travels in the OVERLAPPED record; the handle is synchronous,
    // so the call returns when the bytes are there.
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    const DWORD ask = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(descriptor_), out, ask, &got, &at) || got == 0) {
      return false;
    }
    out += got;
    offset += got;
    size -= got;
  }
  return true;
}

}  // namespace qlx
