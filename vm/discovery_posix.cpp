// Where a Linux Java home keeps libjvm.so. searchHome tries each candidate
// directory, then <candidate><vm type>/, then every subdirectory of the
// candidate, so naming the directory that holds server/ or client/ is enough:
//   ""               the home is that directory itself (e.g. .../lib)
//   "lib/"           JDK and JRE 9 and later: lib/server/libjvm.so
//   "lib/amd64/"     a Java 8 JRE: lib/amd64/server/libjvm.so
//   "jre/lib/amd64/" a Java 8 JDK: jre/lib/amd64/server/libjvm.so
//   "../lib/"        a home that names the runtime's bin directory, as
//                    JAVA_HOME is sometimes set by mistake
#include "vm/discovery.h"
#include "vm/installed_runtimes.h"

namespace qlx {

const char* const kVmLibraryName = "libjvm.so";
const char* const kHomeSubdirectories[] = {"", "lib/", "lib/amd64/", "jre/lib/amd64/", "../lib/"};
const int kHomeSubdirectoryCount =
    static_cast<int>(sizeof(kHomeSubdirectories) / sizeof(kHomeSubdirectories[0]));

}  // namespace qlx

namespace qlx {

// Where Debian, Ubuntu, Fedora and their packages put every Java home.
const char* const kRuntimeParentDirectories[] = {"/usr/lib/jvm/"};
const int kRuntimeParentDirectoryCount = 1;

}  // namespace qlx
