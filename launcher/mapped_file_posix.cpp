// Read-only file view on Linux (placeholder).
#include "launcher/mapped_file.h"
namespace qlx {
MappedFile::MappedFile(const std::string&) {}
MappedFile::~MappedFile() {}
}  // namespace qlx
