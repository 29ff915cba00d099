// File work of the class-data archive on Windows: the user's local
// application data (a LocalSystem service has its system profile's), file
// attributes, CreateDirectoryA, MoveFileExA with and without replacing.
#include "launcher/handle_win.h"
#include "launcher/win32.h"
#include "vm/class_data.h"

namespace qlx {

namespace {

// Archives the VM wrote read-only, and an older one, must still be
// replaceable and removable.
void clearReadOnly(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    SetFileAttributesA(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  }
}

}  // namespace

std::string defaultClassDataFolder(Os& os) {
  std::optional<std::string> local = os.getEnv("LOCALAPPDATA");
  if (!local || local->empty()) {
    const std::optional<std::string> profile = os.getEnv("USERPROFILE");
    if (!profile || profile->empty()) return {};
    local = *profile + "\\AppData\\Local";
  }
  return *local + "\\qlx\\classdata";
}

bool stampOf(const std::string& path, FileStamp& out) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  out = FileStamp{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  out.exists = true;
  out.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  out.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  const uint64_t ticks = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                         data.ftLastWriteTime.dwLowDateTime;
  out.mtime = static_cast<int64_t>(ticks / 10000000u);
  return true;
}

bool makeFolders(const std::string& path) {
  for (size_t at = path.find_first_of("\\/", 3); at != std::string::npos;
       at = path.find_first_of("\\/", at + 1)) {
    CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
  }
  CreateDirectoryA(path.c_str(), nullptr);
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool canCreateFile(const std::string& path) {
  ScopedKernelHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  return file.valid();
}

size_t readHead(const std::string& path, uint8_t* buffer, size_t size) {
  ScopedKernelHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return 0;
  DWORD done = 0;
  if (!ReadFile(file.get(), buffer, static_cast<DWORD>(size), &done, nullptr)) return 0;
  return done;
}

bool moveFile(const std::string& from, const std::string& to, bool replace) {
  // A replaced archive that another run has mapped cannot be replaced: the
  // move fails and that run keeps it.
  if (replace) clearReadOnly(to);
  return MoveFileExA(from.c_str(), to.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0) != 0;
}

void removeFile(const std::string& path) {
  clearReadOnly(path);
  DeleteFileA(path.c_str());
}

uint32_t currentProcessId() { return GetCurrentProcessId(); }

bool processRunning(uint32_t processId) {
  ScopedKernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
  if (!process.valid()) return GetLastError() == ERROR_ACCESS_DENIED;
  return WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

}  // namespace qlx
