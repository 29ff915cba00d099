// Command-line tokenizer (placeholder).
#include "launcher/arguments.h"
namespace qlx {
size_t splitArguments(const std::string&, StringList& list, std::vector<int32_t>*) { return list.size(); }
int wildcardMode(const std::string&) { return 0; }
StringList rebuildArguments(int, const std::string&, const std::function<void(const std::string&, StringList&)>&) { return {}; }
std::string joinArguments(const StringList&) { return {}; }
}  // namespace qlx
