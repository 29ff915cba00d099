// The resources a wrapped program carries for Explorer and the loader: its
// icon group, its version information and its application manifest. Each
// is built here as resource data and written into a ResourceTree; readers
// give the same data back for --inspect.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/qlxwrap/resource_tree.h"
#include "tools/qlxwrap/wrap.h"

namespace qlx::wrap {

// Replaces icon group 1 (and the icons it used) with every image of an .ico
// file. Returns false with `error` when `ico` is not an icon file.
bool setIconGroup(ResourceTree& tree, const Bytes& ico, std::string& error);

// "WxH" of every image of icon group 1, in group order; empty when absent.
std::vector<std::string> iconSizes(const ResourceTree& tree);

// Parses "1", "1.2", "1.2.3" or "1.2.3.4" (each part 0..65535) into two
// words of a fixed version. Returns false for anything else.
bool parseVersion(const std::string& text, uint32_t& ms, uint32_t& ls);

// The VS_VERSIONINFO data for `info` (language 1033, Unicode). The strings
// are UTF-8; `fileName` becomes OriginalFilename and, without ".exe",
// InternalName. Fails with `error` for a version that does not parse.
bool buildVersionInfo(const VersionInfo& info, const std::string& fileName, Bytes& out,
                      std::string& error);

// Name/value pairs of the first string table of a VS_VERSIONINFO, UTF-8,
// plus "(fixed) FileVersion" from the fixed part. False when damaged.
bool readVersionStrings(const Bytes& data,
                        std::vector<std::pair<std::string, std::string>>& strings);

// The application manifest text.
std::string buildManifest(const std::string& executionLevel, bool utf8CodePage);

}  // namespace qlx::wrap
