// Read-only mapping of a whole file. The file and mapping handles are
// closed at once: the view alone keeps the mapping alive until unmapped.
#include "launcher/mapped_file.h"

#include "launcher/handle_win.h"
#include "launcher/module_path_win.h"

namespace qlx {

MappedFile::MappedFile(const std::string& path)
    : MappedFile(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}

MappedFile::MappedFile(OwnExecutable)
    : MappedFile(CreateFileW(wideChars(executablePathWide()), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr)) {}

MappedFile::MappedFile(void* openedFile) {
  ScopedKernelHandle file(openedFile);
  if (!file) return;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) return;
  opened_ = true;
  if (size.QuadPart == 0) return;  // an empty file cannot be mapped; valid() still holds
  ScopedKernelHandle mapping(CreateFileMappingA(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping) {
    opened_ = false;
    return;
  }
  void* view = MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0);
  if (view == nullptr) {
    opened_ = false;
    return;
  }
  data_ = static_cast<const uint8_t*>(view);
  size_ = static_cast<uint64_t>(size.QuadPart);
  handle_ = view;
}

MappedFile::~MappedFile() {
  if (handle_ != nullptr) UnmapViewOfFile(handle_);
}

}  // namespace qlx
