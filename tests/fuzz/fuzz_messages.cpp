// Fuzzes the message override table, the escape rules and placeholder
// filling: a hostile message text must come out as text, bounded.
#include <cstdlib>
#include <string>

#include "launcher/messages.h"
#include "tests/fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qlx;
  const std::string text(reinterpret_cast<const char*>(data), size);

  const std::string unescaped = unescapeMessage(text);
  if (unescaped.size() > text.size()) std::abort();

  const std::string filled = fillPlaceholders(text, {text, "x", text});
  if (filled.size() > kMaxFormattedMessage) std::abort();
  if (fillPlaceholders(text, {}, 7).size() > 7) std::abort();

  testing::FakeOs os;
  fuzz::populate(os);
  LauncherContext context = fuzz::contextOver(data, size);
  MessageOverrides overrides;
  overrides.build(context, os);
  for (int id : {0, 1, 6, 12, 13, 256, 1024, -1})
    if (const std::string* found = overrides.find(id)) (void)found->size();
  return 0;
}
