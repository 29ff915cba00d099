// The process's user and the security descriptors built from it.
#include "launcher/user_security_win.h"

#include <sddl.h>

#include "launcher/handle_win.h"

namespace qlx {

bool currentUserSid(UserSid& user) {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
  ScopedKernelHandle token(raw);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
    return false;
  }
  PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  const BYTE* start = static_cast<const BYTE*>(sid);
  user.bytes.assign(start, start + GetLengthSid(sid));
  char* text = nullptr;
  if (!ConvertSidToStringSidA(sid, &text)) return false;
  user.text = text;
  LocalFree(text);
  return true;
}

OwnerTrust ownerTrust(HANDLE object, SE_OBJECT_TYPE type, const UserSid& user, bool privilegedToo) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(object, type, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS) {
    return OwnerTrust::Unknown;
  }
  const bool trusted =
      owner != nullptr && IsValidSid(owner) &&
      (EqualSid(owner, const_cast<BYTE*>(user.bytes.data())) ||
       (privilegedToo && (IsWellKnownSid(owner, WinLocalSystemSid) ||
                          IsWellKnownSid(owner, WinBuiltinAdministratorsSid))));
  LocalFree(descriptor);
  return trusted ? OwnerTrust::Trusted : OwnerTrust::Other;
}

UserOnlySecurity::UserOnlySecurity(const UserSid& user) : sid_(user.bytes) {
  acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + sid_.size());
  PACL acl = reinterpret_cast<PACL>(acl_.data());
  ok_ = !sid_.empty() && InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) &&
        AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, sid_.data()) &&
        InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
        SetSecurityDescriptorOwner(&descriptor_, sid_.data(), FALSE) &&
        SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE);
  attributes_.nLength = sizeof(attributes_);
  attributes_.lpSecurityDescriptor = &descriptor_;
  attributes_.bInheritHandle = FALSE;
}

}  // namespace qlx
