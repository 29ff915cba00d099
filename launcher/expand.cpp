// Value expansion (placeholder).
#include "launcher/expand.h"
namespace qlx {
std::string expandValue(const LauncherContext&, Os&, std::string_view text, bool) { return std::string(text); }
std::optional<std::string> builtinVariable(const LauncherContext&, Os&, std::string_view) { return std::nullopt; }
std::optional<std::string> registryValue(const LauncherContext&, Os&, std::string_view) { return std::nullopt; }
void expandLine(const LauncherContext&, Os&, StringList& list, const std::string& value) { list.push_back(value); }
void expandLineUtf8(const LauncherContext&, Os&, StringList& list, const std::string& value) { list.push_back(value); }
void expandPathList(const LauncherContext&, Os&, std::string&, const std::string&) {}
void lookupExpandedValues(const LauncherContext&, Os&, std::string_view, StringList&, bool) {}
const std::string& vmKeyValue(LauncherContext& context, Os&) { return context.vmValue; }
void findMatches(Os&, const std::string&, StringList&) {}
std::string resolveAppPath(const LauncherContext&, Os&, const std::string& path) { return path; }
}  // namespace qlx
