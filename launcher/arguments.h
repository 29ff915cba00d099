// Command-line text: the one tokenizer, wildcard marks and the argument
// rebuild of wildcard expansion.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "launcher/function_ref.h"
#include "launcher/text.h"

namespace qlx {

enum WildcardMark : int32_t { kMarkNone = 0, kMarkUnquoted = 1, kMarkQuoted = -1 };

// Splits `text` with the Windows command-line rules (blanks separate,
// double quotes group, 2n backslashes + quote -> n backslashes + toggle,
// 2n+1 -> n backslashes + literal quote). Appends the arguments; when
// `marks` is given, appends one wildcard mark per argument. Returns the
// list's new length.
size_t splitArguments(const std::string& text, StringList& list,
                      std::vector<int32_t>* marks = nullptr);

// Wildcard mode of the `wildcard` key: 0 off, 1 true/auto, 2 all.
int wildcardMode(const std::string& value);

// Rebuilds the argument vector from the raw command line. `matcher`
// appends the matches of one pattern (findMatches).
StringList rebuildArguments(int mode, const std::string& rawCommandLine,
                            FunctionRef<void(const std::string&, StringList&)> matcher);

// Joins arguments into one command line that splitArguments reads back
// into the same arguments (service image path).
std::string joinArguments(const StringList& arguments);

}  // namespace qlx
