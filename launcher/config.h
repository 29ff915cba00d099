// Configuration lookups: every read scans the configuration text from the
// start; nothing is parsed in advance.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "launcher/function_ref.h"
#include "launcher/launcher_context.h"
#include "launcher/os.h"
#include "launcher/text.h"

namespace qlx {

using ValueHandler = FunctionRef<void(const std::string& value)>;

// First line of `key` (empty when none). embeddedOnly skips the external part.
std::string lookupValue(const LauncherContext& context, std::string_view key, bool embeddedOnly,
                        bool toNarrow);

// Calls `handler` for every line of `key`, in text order.
void lookupValues(const LauncherContext& context, std::string_view key, const ValueHandler& handler,
                  bool embeddedOnly, bool toNarrow);

// Calls `handler(index, value)` for every line of keys[index], in text
// order, for keys whose lines count together (option and options).
using KeyedValueHandler = FunctionRef<void(size_t index, const std::string& value)>;
void lookupValuesOfKeys(const LauncherContext& context, std::initializer_list<std::string_view> keys,
                        const KeyedValueHandler& handler, bool embeddedOnly, bool toNarrow);

// Both texts say the same to the lookups that an external file takes part
// in: the same lines in the same order, leaving out empty lines, leading
// spaces, line-end styles and the keys only the embedded block sets.
bool sameConfiguration(std::string_view a, std::string_view b);

// Accessors of the one-valued keys (scope and preparation as the key table
// gives them). The expanded ones go through expandValue(value, false).
std::string appidValue(const LauncherContext& context);
std::string wildcardValue(const LauncherContext& context);
std::string singleInstanceValue(const LauncherContext& context);
std::string mainClassValue(const LauncherContext& context);  // kept in UTF-8
std::string minJreValue(const LauncherContext& context);
std::string maxJreValue(const LauncherContext& context);
std::string mainArgvValue(const LauncherContext& context);
std::string stopTimeoutValue(const LauncherContext& context);  // seconds, as written
std::string stdoutValue(const LauncherContext& context, Os& os = systemOs());
std::string stderrValue(const LauncherContext& context, Os& os = systemOs());
std::string forceCwdValue(const LauncherContext& context, Os& os = systemOs());
// Rotation of redirected log files: `logrotate`, `logkeep`, `logmaxage`.
std::string logRotateValue(const LauncherContext& context);
std::string logKeepValue(const LauncherContext& context);
std::string logMaxAgeValue(const LauncherContext& context);
// `argv` lines through expandLine.
void argvValues(const LauncherContext& context, StringList& list, Os& os = systemOs());

}  // namespace qlx
