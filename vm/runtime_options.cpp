// Options chosen by the runtime's version; see runtime_options.h.
#include "vm/runtime_options.h"

#include "launcher/text.h"
#include "vm/installed_runtimes.h"
#include "vm/version.h"

namespace qlx {
namespace {

// The first release that warns when a class path class loads a library.
constexpr int kRestrictedLoadSince = 24;

}  // namespace

std::string runtimeVersionOf(Os& os, const std::string& library) {
  std::string dir = library;
  for (int level = 0; level < 4; ++level) {
    // Drop the last name, keeping its separator: "home/lib/" -> "home/".
    if (endsWithSeparator(dir, isNarrowLeadByte)) dir.pop_back();
    const size_t sep = splitNarrowPath(dir, isNarrowLeadByte).lastSeparator;
    if (sep == std::string::npos || sep == 0) return {};
    dir.resize(sep + 1);
    const std::string version = releaseVersion(os, dir);
    if (!version.empty()) return version;
  }
  return {};
}

int featureRelease(const std::string& version) {
  const std::vector<int> numbers = parseVersion(version);
  if (numbers.empty()) return 0;
  return numbers[0] == 1 && numbers.size() > 1 ? numbers[1] : numbers[0];
}

bool bindsNativesItself(const std::string& version) {
  return featureRelease(version) >= kRestrictedLoadSince;
}

}  // namespace qlx
