// Fuzzes value expansion (environment, built-ins, registry with nesting,
// path lists and wildcard matching) over arbitrary values.
#include <cstdlib>
#include <string>

#include "launcher/expand.h"
#include "tests/fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qlx;
  testing::FakeOs os;
  fuzz::populate(os);
  LauncherContext context = fuzz::contextOver(data, 0);
  const std::string text(reinterpret_cast<const char*>(data), size);

  const std::string plain = expandValue(context, os, text, false);
  (void)expandValue(context, os, text, true);
  if (os.registryReads > 64 * 2) std::abort();  // the nesting budget holds
  // Text without an introducer is copied unchanged.
  if (text.find_first_of("%$") == std::string::npos && plain != text) std::abort();

  (void)registryValue(context, os, text);
  std::string paths;
  expandPathList(context, os, paths, text);
  StringList matches;
  findMatches(os, text, matches);
  (void)resolveAppPath(context, os, text);
  return 0;
}
