// Windows side of opening logs: FILE_FLAG_OPEN_REPARSE_POINT and a look at
// the attributes of what was opened for a rotated log, and the owner of the
// file read from the handle itself.
#include "redirect/log_open.h"


#include "launcher/handle_win.h"
#include "launcher/text.h"
#include "launcher/user_security_win.h"
#include "redirect/log_rotation.h"

namespace qlx {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Append-only, not a write handle moved to the end once: every write
// through it (ours, the VM's, a child's) lands at the end the file has at
// that moment, so instances sharing one log never overwrite each other.
constexpr DWORD kAppendAccess = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;

HANDLE openAppend(const std::string& path, DWORD flags) {
  return CreateFileA(path.c_str(), kAppendAccess, kShareAll, nullptr, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_ARCHIVE | flags, nullptr);
}

std::string withoutTrailingSeparator(std::string folder) {
  while (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  return folder;
}

bool createdOrThere(const std::string& folder) {
  return CreateDirectoryA(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

// The folder and the missing folders above it.
bool makeFolders(const std::string& folder) {
  if (folder.empty() || folder.back() == ':') return false;
  if (createdOrThere(folder)) return true;
  if (GetLastError() != ERROR_PATH_NOT_FOUND) return false;
  const std::string parent = withoutTrailingSeparator(folderOf(folder));
  return !parent.empty() && parent != folder && makeFolders(parent) && createdOrThere(folder);
}

// A file system without owners (FAT) has nothing to check.
bool ownedByAnotherUser(HANDLE file) {
  if (GetFileType(file) != FILE_TYPE_DISK) return false;
  UserSid user;
  return currentUserSid(user) && ownerTrust(file, SE_FILE_OBJECT, user, true) == OwnerTrust::Other;
}

}  // namespace

OpenedLog openLogForAppend(const std::string& path, FinalLink link) {
  const DWORD flags = link == FinalLink::Refuse ? FILE_FLAG_OPEN_REPARSE_POINT : 0;
  HANDLE opened = openAppend(path, flags);
  if (opened == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PATH_NOT_FOUND &&
      makeFolders(withoutTrailingSeparator(folderOf(path)))) {
    opened = openAppend(path, flags);
  }
  if (opened == INVALID_HANDLE_VALUE) return {-1, systemErrorText(GetLastError())};
  ScopedKernelHandle file(opened);
  BY_HANDLE_FILE_INFORMATION info;
  if (link == FinalLink::Refuse && GetFileInformationByHandle(file.get(), &info) &&
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return {-1, "it is a symbolic link or junction"};
  }
  if (ownedByAnotherUser(file.get())) return {-1, "it belongs to another user"};
  return {reinterpret_cast<intptr_t>(file.release()), std::string()};
}

std::string systemErrorText(unsigned long error) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = length != 0 && text != nullptr ? std::string(text, length) : std::string();
  if (text != nullptr) LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                             result.back() == ' ' || result.back() == '.')) {
    result.pop_back();
  }
  if (result.empty()) result = "error " + decimalText(error);
  return result;
}

}  // namespace qlx
