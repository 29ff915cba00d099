// Fuzzes the generator's reading of an application archive's manifest: raw
// DEFLATE data of any shape must decode or be refused within its limit,
// never read or write out of bounds; the manifest reader takes any text.
#include <cstdlib>
#include <string>

#include "tools/qlxwrap/inflate.h"
#include "tools/qlxwrap/main_class.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qlx::wrap;
  constexpr size_t kLimit = 1 << 16;
  std::string out, error;
  const bool ok = inflateRaw(data, size, kLimit, out, error);
  if (out.size() > kLimit || (!ok && error.empty())) std::abort();
  manifestAttribute(ok ? out : std::string(reinterpret_cast<const char*>(data), size),
                    "Main-Class");
  return 0;
}
