// Loading the VM library on Windows (placeholder).
#include "vm/vm_host.h"

namespace qlx {

void* loadVmLibraryFile(const std::string&, Os&) { return nullptr; }
void* vmLibrarySymbol(void*, const char*) { return nullptr; }
void freeVmLibrary(void*) {}
void reportSystemError(const std::string&) {}

}  // namespace qlx
