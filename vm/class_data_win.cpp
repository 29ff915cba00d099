// File work of the class-data archive on Windows: the user's local
// application data (a LocalSystem service has its system profile's),
// folders created with a protected DACL for the user alone, owners and
// DACLs read back through GetNamedSecurityInfoA, MoveFileExA with and
// without replacing.
#include <aclapi.h>

#include <vector>

#include "launcher/handle_win.h"
#include "launcher/win32.h"
#include "vm/class_data_platform.h"

namespace qlx {

namespace {

// Rights that change what a folder holds or what a file says, or who may.
constexpr DWORD kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE |
                               WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// The SID of this process's user, read once. Its bytes are kept in a
// string: the launcher has that container's code already.
const std::string& userSid() {
  static std::string sid;
  if (!sid.empty()) return sid;
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return sid;
  ScopedKernelHandle token(raw);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::string buffer(size, '\0');
  if (size != 0 && GetTokenInformation(token.get(), TokenUser, &buffer[0], size, &size)) {
    PSID user = reinterpret_cast<TOKEN_USER*>(&buffer[0])->User.Sid;
    sid.assign(static_cast<const char*>(user), GetLengthSid(user));
  }
  return sid;
}

PSID sidOf(const std::string& bytes) { return const_cast<char*>(bytes.data()); }

// The user, the system and the administrators: who may own the cache and
// write it (the latter two can take any file anyway). OWNER RIGHTS and
// CREATOR OWNER stand for the owner.
bool trusted(PSID sid) {
  const std::string& user = userSid();
  return (!user.empty() && EqualSid(sid, sidOf(user))) ||
         IsWellKnownSid(sid, WinLocalSystemSid) ||
         IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
         IsWellKnownSid(sid, WinCreatorOwnerSid) || IsWellKnownSid(sid, WinCreatorOwnerRightsSid);
}

const char* securityProblem(const std::string& path) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                            &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return "its owner and rights cannot be read";
  }
  const char* problem = nullptr;
  if (owner == nullptr || !trusted(owner)) {
    problem = "is owned by another user";
  } else if (dacl == nullptr) {
    problem = "is writable by everyone (no DACL)";
  }
  for (DWORD i = 0; problem == nullptr && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) {
      problem = "its rights cannot be read";
      break;
    }
    const ACE_HEADER* header = static_cast<const ACE_HEADER*>(ace);
    if ((header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
    const bool plain = header->AceType == ACCESS_ALLOWED_ACE_TYPE ||
                       header->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
    const bool withObject = header->AceType == ACCESS_ALLOWED_OBJECT_ACE_TYPE ||
                            header->AceType == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE;
    if (!plain && !withObject) continue;  // denials and audits take nothing away from the user
    const ACCESS_ALLOWED_ACE* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    if ((allowed->Mask & kWriteRights) == 0) continue;
    // An object ACE keeps its SID behind GUIDs; such a grant is a doubt.
    if (withObject || !trusted(const_cast<DWORD*>(&allowed->SidStart))) {
      problem = "is writable by other users";
    }
  }
  LocalFree(descriptor);
  return problem;
}

// A security descriptor that gives the user alone full control of a
// folder and, by inheritance, of what is made in it; nothing is inherited
// from above.
class PrivateFolderSecurity {
 public:
  PrivateFolderSecurity() {
    const std::string& sid = userSid();
    acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + sid.size());
    PACL acl = reinterpret_cast<PACL>(&acl_[0]);
    ok_ = !sid.empty() && InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) &&
          AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                                FILE_ALL_ACCESS, sidOf(sid)) &&
          InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
          SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
          SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = FALSE;
  }
  PrivateFolderSecurity(const PrivateFolderSecurity&) = delete;
  PrivateFolderSecurity& operator=(const PrivateFolderSecurity&) = delete;
  SECURITY_ATTRIBUTES* attributes() { return ok_ ? &attributes_ : nullptr; }

 private:
  std::string acl_;  // an ACL's bytes
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
  bool ok_ = false;
};

// Archives the VM wrote read-only, and an older one, must still be
// replaceable and removable.
void clearReadOnly(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    SetFileAttributesA(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  }
}

}  // namespace

const char kPathSeparator = '\\';
const char* const kJavaLauncher = "bin\\java.exe";

std::string defaultCacheRoot(Os& os) {
  std::optional<std::string> local = os.getEnv("LOCALAPPDATA");
  if (!local || local->empty()) {
    const std::optional<std::string> profile = os.getEnv("USERPROFILE");
    if (!profile || profile->empty()) return {};
    local = *profile + "\\AppData\\Local";
  }
  return *local;
}

const char* securePrivateFolders(const std::string& rootPath, const std::string& folderPath,
                                 std::string& where) {
  std::string root = rootPath, folder = folderPath;
  while (root.size() > 3 && isSeparator(root.back())) root.pop_back();
  while (folder.size() > 3 && isSeparator(folder.back())) folder.pop_back();
  if (folder.size() < root.size() || folder.compare(0, root.size(), root) != 0 ||
      (folder.size() > root.size() && !isSeparator(folder[root.size()]))) {
    where = folder;
    return "not a folder below the cache root";
  }
  PrivateFolderSecurity security;
  // From the root down, what is missing is made here, for the user alone;
  // the folders above the root are the system's business (a profile, a
  // drive's root).
  for (size_t at = root.size();; at = folder.find_first_of("\\/", at + 1)) {
    const std::string path = at == std::string::npos ? folder : folder.substr(0, at);
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
        !CreateDirectoryA(path.c_str(), security.attributes()) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
      where = path;
      return "cannot be created";
    }
    const DWORD attributes = GetFileAttributesA(path.c_str());
    const char* problem = nullptr;
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      problem = "is not a folder";
    } else if (path.size() > root.size() && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      problem = "is a link";
    } else {
      problem = securityProblem(path);
    }
    if (problem != nullptr) {
      where = path;
      return problem;
    }
    if (at == std::string::npos || at >= folder.size()) return nullptr;
  }
}

bool filePrivate(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return false;
  }
  return securityProblem(path) == nullptr;
}

// What the VM writes in a private folder inherits its DACL.
void makePrivate(const std::string&) {}

bool createMarker(const std::string& path) {
  ScopedKernelHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.valid();
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
