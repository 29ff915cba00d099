// Loading the launcher context (placeholder).
#include "launcher/launcher_context.h"
namespace qlx {
void appendConfigurationText(std::string&, const uint8_t*, size_t) {}
void externalConfigCandidates(const std::string&, std::string out[4]) { for (int i = 0; i < 4; ++i) out[i].clear(); }
void loadConfiguration(LauncherContext&) {}
void refreshStartDirectory(LauncherContext& c) { c.startDirectory = currentDirectory(); }
std::string homeOf(const std::string&) { return {}; }
}  // namespace qlx
