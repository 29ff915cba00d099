// The user this process runs as, and what follows from it for objects that
// other users must not be able to take or plant: a security descriptor that
// grants that user alone, and which owners of an existing object are to be
// trusted (no other user can have made it).
#pragma once

#include <string>
#include <vector>

#include "launcher/win32.h"

#include <aclapi.h>

namespace qlx {

struct UserSid {
  std::vector<BYTE> bytes;
  std::string text;  // "S-1-5-21-..."
};

// False when the process token cannot be read.
bool currentUserSid(UserSid& user);

enum class OwnerTrust { Unknown, Trusted, Other };

// The owner of an open object, which may have been made by someone else
// under a name we use. Trusted when it is the user, or with privilegedToo
// also LocalSystem or the Administrators group (owners that an unprivileged
// other user cannot give an object); Unknown when it cannot be read.
OwnerTrust ownerTrust(HANDLE object, SE_OBJECT_TYPE type, const UserSid& user, bool privilegedToo);

// Owner the user, and a DACL that grants the user alone.
class UserOnlySecurity {
 public:
  explicit UserOnlySecurity(const UserSid& user);
  UserOnlySecurity(const UserOnlySecurity&) = delete;
  UserOnlySecurity& operator=(const UserOnlySecurity&) = delete;

  bool ok() const { return ok_; }
  SECURITY_ATTRIBUTES* attributes() { return &attributes_; }

 private:
  std::vector<BYTE> sid_;
  std::vector<BYTE> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
  bool ok_ = false;
};

}  // namespace qlx
