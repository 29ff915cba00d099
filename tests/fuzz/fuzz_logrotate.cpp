// Fuzzes the values of the log rotation keys, the rotated-name reader and
// the line-end split, with invariants that hold for any input.
#include <cstdlib>
#include <string>
#include <vector>

#include "redirect/log_rotation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qlx;
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts(3);
  size_t part = 0;
  for (char c : text) {
    if (c == '\n' && part < 2) {
      ++part;
    } else {
      parts[part] += c;
    }
  }

  std::string problem;
  RotationPolicy policy = rotationPolicy(parts[0], parts[1], parts[2], problem);
  // Either a usable policy or a complaint with rotation off, never both.
  if (!problem.empty() && policy.enabled()) std::abort();
  if (policy.keep < 0 || policy.keep > 9999 || policy.maxAgeSeconds < 0) std::abort();

  uint64_t bytes = 0;
  if (parseSize(parts[0], bytes)) {
    uint64_t again = 0;
    if (bytes == 0 || !parseSize(std::to_string(bytes), again) || again != bytes) std::abort();
  }
  int64_t seconds = 0;
  if (parseDuration(parts[0], seconds) && seconds <= 0) std::abort();

  RotatedName name;
  if (parseRotatedName("app.log", text, name)) {
    const std::string rebuilt =
        name.dated ? datedName("app.log", LocalDay{name.dayKey / 10000, name.dayKey / 100 % 100,
                                                   name.dayKey % 100},
                               name.number)
                   : numberedName("app.log", name.number);
    RotatedName back;
    if (!parseRotatedName("app.log", rebuilt, back) || back.dated != name.dated ||
        back.number != name.number || back.dayKey != name.dayKey) {
      std::abort();
    }
  }

  const size_t cut = bytesBeforeCheck(text.data(), text.size());
  if (cut > text.size()) std::abort();
  if (cut < text.size() && (cut == 0 || text[cut - 1] != '\n')) {
    if (text.find('\n') != std::string::npos) std::abort();
  }
  if (text.find('\n', cut) != std::string::npos) std::abort();
  return 0;
}
