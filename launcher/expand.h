// Value expansion: %NAME%, %{NAME}%, $NAME, ${NAME}, the escapes %% and $$,
// built-in variables and registry references, path lists and wildcard
// matching. Expansion never fails: what it cannot resolve stays as written.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "launcher/launcher_context.h"
#include "launcher/os.h"
#include "launcher/text.h"

namespace qlx {

// REG_EXPAND_SZ data is expanded again and may refer to itself; past this
// depth a registry reference resolves to nothing more.
inline constexpr int kMaxRegistryExpansionDepth = 8;

std::string expandValue(const LauncherContext& context, Os& os, std::string_view text, bool utf8);

std::optional<std::string> builtinVariable(const LauncherContext& context, Os& os,
                                           std::string_view name);
std::optional<std::string> registryValue(const LauncherContext& context, Os& os,
                                         std::string_view name);

// Per-line handlers for lookupValues.
void expandLine(const LauncherContext& context, Os& os, StringList& list, const std::string& value);
void expandLineUtf8(const LauncherContext& context, Os& os, StringList& list,
                    const std::string& value);
// Appends separator + path for every element of a ';'-separated value
// (wildcards through findMatches, others through resolveAppPath).
void expandPathList(const LauncherContext& context, Os& os, std::string& out,
                    const std::string& value);

// Reads a key of many values into a list: expandLine when toNarrow is set,
// expandLineUtf8 otherwise.
void lookupExpandedValues(const LauncherContext& context, Os& os, std::string_view key,
                          StringList& list, bool toNarrow);

// The expanded `vm` key, cached in the context; "-" when empty.
const std::string& vmKeyValue(LauncherContext& context, Os& os);

// Wildcard path matcher: appends every match in directory-listing order.
void findMatches(Os& os, const std::string& pattern, StringList& list);

// Makes a configured relative path absolute: application home + path, else
// start directory + path when only that is readable.
std::string resolveAppPath(const LauncherContext& context, Os& os, const std::string& path);

// The separator of path lists: ';' on Windows, ':' on Linux (paths_win.cpp,
// paths_posix.cpp).
extern const char kPathListSeparator;

}  // namespace qlx
