// Switch parser of the service command line (placeholder).
#include "service/switches.h"
namespace qlx {
SwitchParser::SwitchParser(const char*, int argc, char** argv) : argc_(argc), argv_(argv) {}
SwitchResult SwitchParser::next(int&) const { return {}; }
bool SwitchParser::findValue(const std::string&, std::string&) const { return false; }
bool isTrue(const std::string&) { return true; }
}  // namespace qlx
