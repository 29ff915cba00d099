// qlxwrap --inspect: what a wrapped program holds, read with the same
// payload functions the launcher uses. Works on bytes in memory and never
// reads outside them, whatever the file holds (tests/fuzz drives it).
#pragma once

#include <functional>
#include <string>

#include "tools/qlxwrap/wrap.h"

namespace qlx::wrap {

// Exit codes of --inspect besides kOk and kUnreadable.
enum InspectCode : int {
  kInspectModified = 10,   // payload found, digest does not match
  kInspectNoPayload = 11,  // bare stub, truncated or damaged file, not a qlx program
};

struct InspectResult {
  int code = kOk;
  std::string text;  // the report, lines ending in '\n'
};

// `path` names the file for the external configuration candidates beside
// it; `exists` says whether a candidate file exists.
InspectResult inspectFile(const Bytes& file, const std::string& path,
                          const std::function<bool(const std::string&)>& exists);

}  // namespace qlx::wrap
