// Platform side of the launcher context on Linux (placeholder).
#include "launcher/launcher_context.h"
namespace qlx {
std::string executablePath() { return {}; }
std::string currentDirectory() { return "/"; }
bool readConfigFile(const std::string&, std::string&) { return false; }
void setProcessEnvironment(const std::string&, const std::string&) {}
}  // namespace qlx
