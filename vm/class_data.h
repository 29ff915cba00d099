// The class-data archive: from its second run on, a program maps the
// classes it loaded on an earlier run from an archive, and starts faster.
// On HotSpot 13 to 23 that is a dynamic archive the VM writes when a run
// ends; from 24 on it is an ahead-of-time cache, assembled after the run
// from the class list the run wrote, by the runtime's own `java` in a
// detached process of low priority, so that no run waits for it.
//
// The VM checks an archive only by the class path's text and each file's
// size and time, so the launcher chooses the archive by a key over
// everything that decides what it may hold, and puts a written archive in
// place itself, only once it is finished. It maps only files in folders
// that no other user can change. Whatever fails or is in doubt, the
// program runs as it would without an archive.
//
// class_data_rules.h holds the rules that need no file system,
// class_data_cache.h the folder's names and the plan of a start,
// class_data_platform.h the file and process work of each system.
#pragma once

#include <string>

#include "launcher/launcher_context.h"
#include "launcher/os.h"
#include "vm/class_data_cache.h"
#include "vm/class_data_rules.h"
#include "vm/vm_host.h"

namespace qlx {

// The launch's step between discovery and creation: chooses the archive
// for this run and adds its options ahead of the application's own, or
// adds nothing. Registers what the end of the VM has to do with the host.
void prepareClassData(const LauncherContext& context, VmHost& host, Os& os,
                      const std::string& library);

// The launch's step right after createVm returned `result` (0 created,
// 4 creation failed, else never tried): a creation that failed with the
// archive options makes later starts of this key add nothing; one that
// failed without them clears that note again.
void classDataVmCreated(int result);

}  // namespace qlx
