// Java version texts (placeholder).
#include "vm/version.h"
namespace qlx {
std::vector<int> parseVersion(const std::string&) { return {}; }
bool versionTooLow(const std::vector<int>&, const std::vector<int>&) { return false; }
bool versionTooHigh(const std::vector<int>&, const std::vector<int>&) { return false; }
}  // namespace qlx
