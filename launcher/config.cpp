// Configuration lookups (placeholder).
#include "launcher/config.h"
namespace qlx {
std::string lookupValue(const LauncherContext&, std::string_view, bool, bool) { return {}; }
void lookupValues(const LauncherContext&, std::string_view, const ValueHandler&, bool, bool) {}
std::string appidValue(const LauncherContext&) { return {}; }
std::string wildcardValue(const LauncherContext&) { return {}; }
std::string singleInstanceValue(const LauncherContext&) { return {}; }
std::string mainClassValue(const LauncherContext&) { return {}; }
std::string minJreValue(const LauncherContext&) { return {}; }
std::string maxJreValue(const LauncherContext&) { return {}; }
std::string mainArgvValue(const LauncherContext&) { return {}; }
std::string stdoutValue(const LauncherContext&, Os&) { return {}; }
std::string stderrValue(const LauncherContext&, Os&) { return {}; }
std::string forceCwdValue(const LauncherContext&, Os&) { return {}; }
void argvValues(const LauncherContext&, StringList&, Os&) {}
}  // namespace qlx
