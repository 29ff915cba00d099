// The switch parser of the service command line. Entries are tried in
// table order and a switch without ":" or "=" only has to begin with an
// entry's name, so the order of the table decides what a prefix means.
#include "service/switches.h"

#include "launcher/text.h"

namespace qlx {

SwitchParser::SwitchParser(const char* table, int argc, char** argv)
    : table_(table != nullptr ? table : ""), argc_(argc < 0 ? 0 : argc), argv_(argv) {}

SwitchResult SwitchParser::next(int& index) const {
  SwitchResult result;
  if (index < 0) index = 0;
  if (argv_ == nullptr || index >= argc_) return result;
  const std::string_view argument = argv_[index] != nullptr ? argv_[index] : "";
  ++index;
  if (argument.empty() || (argument[0] != '-' && argument[0] != '/')) {
    result.status = 1;
    result.value.assign(argument);
    return result;
  }

  const std::string_view body = argument.substr(1);
  const size_t separator = body.find_first_of(":=");
  for (std::string_view rest = table_; !rest.empty();) {
    const size_t bar = rest.find('|');
    std::string_view name = rest.substr(0, bar);
    rest = bar == std::string_view::npos ? std::string_view() : rest.substr(bar + 1);
    const bool takesValue = !name.empty() && name.back() == ':';
    if (takesValue) name.remove_suffix(1);
    if (name.empty()) continue;
    std::string_view value;
    if (separator != std::string_view::npos) {
      if (!equalsIgnoreCase(body.substr(0, separator), name)) continue;
      value = body.substr(separator + 1);
    } else {
      if (!startsWithIgnoreCase(body, name)) continue;
      value = body.substr(name.size());
    }
    result.name.assign(name);
    result.hasName = true;
    result.value.assign(value);
    if (!takesValue) {
      result.status = value.empty() ? 1 : 2;
    } else if (!value.empty()) {
      result.status = 1;
    } else if (index < argc_ && argv_[index] != nullptr && argv_[index][0] != '-' &&
               argv_[index][0] != '/') {
      result.value = argv_[index++];
      result.status = 1;
    } else {
      result.status = -1;
    }
    return result;
  }
  result.status = -2;
  result.name.assign(argument);
  result.hasName = true;
  return result;
}

bool SwitchParser::findValue(std::string_view name, std::string& value) const {
  int index = 0;
  for (;;) {
    const SwitchResult result = next(index);
    if (result.status == 0) return false;
    if (result.hasName && result.status > 0 && equalsIgnoreCase(result.name, name)) {
      value = result.value;
      return true;
    }
  }
}

bool isTrue(const std::string& text) {
  for (const char* no : {"off", "no", "false", "0"})
    if (startsWithIgnoreCase(text, no)) return false;
  return true;
}

}  // namespace qlx
