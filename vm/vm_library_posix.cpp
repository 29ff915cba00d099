// Loading the VM library on Linux: dlopen with every symbol bound at once
// and made global, so that the runtime's own libraries (libjava, libnet ...)
// that it opens later resolve against it.
#include <dlfcn.h>

#include <cstdio>

#include "vm/vm_host.h"

namespace qlx {

void* loadVmLibraryFile(const std::string& path, Os& /*os*/) {
  // libjvm.so finds its sibling libraries through its own location, so no
  // search path change is needed here.
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (library == nullptr) reportSystemError(path);
  return library;
}

void* vmLibrarySymbol(void* library, const char* name) { return dlsym(library, name); }

void freeVmLibrary(void* library) { dlclose(library); }

void reportSystemError(const std::string& path) {
  const char* text = dlerror();
  const std::string line = text != nullptr ? substituteInsert(text, path) : std::string();
  std::fprintf(stderr, "%s\n", line.c_str());
}

}  // namespace qlx
