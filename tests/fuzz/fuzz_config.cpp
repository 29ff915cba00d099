// Fuzzes the configuration scanner with arbitrary configuration text and
// checks what every lookup must hold whatever the text.
#include <cstdlib>
#include <string>

#include "launcher/config.h"
#include "tests/fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qlx;
  LauncherContext context = fuzz::contextOver(data, size);
  for (const char* key : {"appid", "option", "message", "a", "mainclass"}) {
    for (bool embedded : {false, true}) {
      const std::string first = lookupValue(context, key, embedded, false);
      size_t calls = 0;
      std::string firstSeen;
      lookupValues(
          context, key,
          [&](const std::string& value) {
            if (calls++ == 0) firstSeen = value;
            // A value never spans a line end.
            if (value.find_first_of("\r\n") != std::string::npos) std::abort();
          },
          embedded, false);
      if (calls > 0 && firstSeen != first) std::abort();
      if (calls == 0 && !first.empty()) std::abort();
      (void)lookupValue(context, key, embedded, true);
    }
  }
  // Byte order mark handling of the same bytes.
  std::string text;
  appendConfigurationText(text, data, size);
  return 0;
}
