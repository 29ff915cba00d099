// Process-wide state on Linux. A JVM that System.load()s the launcher file
// maps it a second time as a shared object, with its own copy of every
// global. The state is therefore exported under one C name: whichever copy
// asks finds the running program's instance through the global symbol
// table (the executable is linked with -rdynamic).
#include <dlfcn.h>

#include "launcher/process_state.h"

extern "C" __attribute__((visibility("default"))) qlx::ProcessState qlxProcessState;
qlx::ProcessState qlxProcessState;

namespace qlx {

ProcessState& processState() {
  static ProcessState* const shared = [] {
    void* found = dlsym(RTLD_DEFAULT, "qlxProcessState");
    return found != nullptr ? static_cast<ProcessState*>(found) : &qlxProcessState;
  }();
  return *shared;
}

}  // namespace qlx
