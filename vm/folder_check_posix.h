// Linux's rule for the folders and files of the class-data cache, apart
// from the file system so that host tests can feed it any stat().
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

namespace qlx {

enum class PathRole {
  Above,  // a folder above the cache root: the user's or root's, sticky where others may write
  Root,   // the cache root (links followed): the user's, writable by no one else
  Below,  // a folder below the root: the same, and no link
  File,   // a file the VM maps: a regular file of the user's with one name, writable by no one else
};

// Why `info` (stat for the root, lstat otherwise) is not safe in `role`
// for `user`, or null. `groupPrivate` says whether the file's group is the
// user's own and has no other member (a user-private group, which may
// share write rights without sharing them with anyone).
const char* posixPathProblem(const struct stat& info, uid_t user, PathRole role, bool groupPrivate);

}  // namespace qlx
