// Fuzzes the command-line tokenizer with wildcard marks, the argument
// rebuild, and the joiner's round trip through the tokenizer.
#include <cstdlib>
#include <string>
#include <vector>

#include "launcher/arguments.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qlx;
  const std::string text(reinterpret_cast<const char*>(data), size);

  StringList arguments;
  std::vector<int32_t> marks;
  const size_t count = splitArguments(text, arguments, &marks);
  if (count != arguments.size() || marks.size() != arguments.size()) std::abort();
  for (size_t i = 0; i < arguments.size(); ++i) {
    const bool wild = arguments[i].find_first_of("*?") != std::string::npos;
    if ((marks[i] != kMarkNone) != wild) std::abort();
  }

  // Whatever was split joins back into a line that splits the same way.
  const std::string joined = joinArguments(arguments);
  StringList again;
  splitArguments(joined, again);
  if (again != arguments) std::abort();

  // The input as an argument list of its own (NUL-separated pieces).
  StringList pieces;
  size_t start = 0;
  for (size_t i = 0; i <= size; ++i) {
    if (i == size || data[i] == 0) {
      pieces.emplace_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  StringList back;
  splitArguments(joinArguments(pieces), back);
  if (back != pieces) std::abort();

  auto matcher = [](const std::string& pattern, StringList& out) {
    if (pattern.size() % 3 == 0) out.push_back(pattern + ".match");
  };
  for (int mode = 0; mode <= 2; ++mode) {
    const StringList rebuilt = rebuildArguments(mode, text, matcher);
    if (rebuilt.size() < arguments.size()) std::abort();
  }
  return 0;
}
