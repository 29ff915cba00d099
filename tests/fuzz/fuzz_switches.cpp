// Fuzzes the service switch parser (and the version reader) with argument
// vectors cut out of the input.
#include <cstdlib>
#include <string>
#include <vector>

#include "service/install_settings.h"
#include "service/nearest_word.h"
#include "service/service_command_line.h"
#include "service/switches.h"
#include "vm/version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qlx;
  std::vector<std::string> strings;
  size_t start = 0;
  for (size_t i = 0; i <= size; ++i) {
    if (i == size || data[i] == 0 || data[i] == '\n') {
      strings.emplace_back(reinterpret_cast<const char*>(data) + start, i - start);
      start = i + 1;
    }
  }
  std::vector<char*> argv;
  for (std::string& s : strings) argv.push_back(s.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(strings.size());

  SwitchParser parser(kServiceSwitchTable, argc, argv.data());
  int index = 0;
  int steps = 0;
  for (;;) {
    const int before = index;
    const SwitchResult result = parser.next(index);
    if (result.status == 0) break;
    if (index <= before || index > argc) std::abort();  // always advances, never past the end
    if (result.status < -2 || result.status > 2) std::abort();
    if (++steps > argc) std::abort();
  }
  std::string value;
  for (const char* name : {"install", "interactive", "inter", "h"}) {
    if (parser.findValue(name, value)) (void)isTrue(value);
  }
  // The same bytes as a table of its own.
  const std::string table(reinterpret_cast<const char*>(data), size);
  SwitchParser custom(table.c_str(), argc, argv.data());
  index = 0;
  while (custom.next(index).status != 0) {
  }

  // The early decision of a run, and the install values typed by hand.
  (void)runKindOf(argc, argv.data());
  RecoverySettings recovery;
  std::string why;
  if (parseRecovery(strings.front(), recovery, &why) && recovery.enabled &&
      (recovery.count == 0 || recovery.count > kMaxRecoveryCount ||
       recovery.delaySeconds > kMaxRecoveryDelaySeconds))
    std::abort();  // out of bounds yet taken
  (void)builtInAccountNear(strings.back());
  size_t distance = 0;
  const char* const words[] = {"status", "stop", nullptr};
  if (nearestWord(strings.front(), words, distance) == nullptr) std::abort();

  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<int> version = parseVersion(text);
  if (version.size() > 4) std::abort();
  (void)versionTooLow(version, parseVersion(strings.back()));
  (void)versionTooHigh(version, parseVersion(strings.front()));
  return 0;
}
