// The default instance filter. Boxed numbers bring their superclass
// Number's descriptor, enums Enum's, and Object[] is how the JDK writes some
// collections; each element is still judged on its own.
#include "instances/instance_filter.h"

namespace qlx {

namespace {

constexpr const char* kPlainValues =
    "java.lang.String;java.lang.Boolean;java.lang.Character;java.lang.Byte;java.lang.Short;"
    "java.lang.Integer;java.lang.Long;java.lang.Float;java.lang.Double;java.lang.Number;"
    "java.lang.Enum;java.lang.Object;java.util.*;";

}  // namespace

std::string instanceFilterText(const std::string& configured, const std::string& mainClass) {
  if (!configured.empty()) return configured;
  std::string name = mainClass;
  for (char& c : name) {
    if (c == '/') c = '.';
  }
  std::string filter = kPlainValues;
  // A main class without a package gives no package to admit: admitting
  // "everything below" it would admit every class.
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) filter += name.substr(0, dot) + ".**;";
  return filter + "!*";
}

}  // namespace qlx
