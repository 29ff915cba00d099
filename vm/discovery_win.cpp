// Windows facts of runtime discovery: the VM library's file name and the
// subdirectories of a Java home where it is looked for.
#include "vm/discovery.h"
#include "vm/installed_runtimes.h"

namespace qlx {

const char* const kVmLibraryName = "jvm.dll";

// A JRE keeps jvm.dll one level below bin\ (client\ or server\); a JDK one
// level deeper under jre\; a home that names the JDK's jre\ sibling is
// reached through ..\jre\bin\.
const char* const kHomeSubdirectories[] = {"", "bin\\", "jre\\bin\\", "..\\jre\\bin\\"};
const int kHomeSubdirectoryCount = 4;

}  // namespace qlx

namespace qlx {

// Installed runtimes are found through their registrations only.
const char* const kRuntimeParentDirectories[] = {""};
const int kRuntimeParentDirectoryCount = 0;

}  // namespace qlx
