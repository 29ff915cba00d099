// The switch parser of the service command line: a table of entries
// ("name:" takes a value, "name" is a flag), matched in table order.
#pragma once

#include <string>
#include <string_view>

namespace qlx {

inline constexpr char kServiceSwitchTable[] =
    "|-install:|install:|inst:|-uninstall|uninstall|uninst|-test|test|interactive|interact|inter"
    "|restart|start|stop|pause|continue|status|account:|password:|recovery:|failonexit"
    "|-help|help|h|?";

struct SwitchResult {
  int status = 0;        // 0 end, 1 ok, 2 flag with a value text, -1 value missing, -2 unknown
  std::string name;      // matched entry name (or the whole argument for -2)
  std::string value;
  bool hasName = false;  // false for plain arguments and the end
};

class SwitchParser {
 public:
  // The parser keeps a view of `table`, which must outlive it.
  SwitchParser(const char* table, int argc, char** argv);

  SwitchResult next(int& index) const;
  // Value of the first switch named `name` with positive status, or false.
  bool findValue(std::string_view name, std::string& value) const;

 private:
  std::string_view table_;
  int argc_;
  char** argv_;
};

// False when the text begins with off, no, false or 0 (case-insensitive).
bool isTrue(const std::string& text);

}  // namespace qlx
