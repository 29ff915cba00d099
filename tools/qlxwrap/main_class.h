// The application's main class as the generator sees it: read from the
// archive's manifest when the configuration names none, and looked up in
// the archive when it does, so a missing class shows while wrapping
// instead of as "main class not found" on the user's machine.
#pragma once

#include <string>

#include "tools/qlxwrap/wrap.h"
#include "tools/qlxwrap/zip_archive.h"

namespace qlx::wrap {

// The value of attribute `name` (compared without regard to case) in the
// main section of a manifest, continuation lines joined; empty when absent.
std::string manifestAttribute(const std::string& manifest, const std::string& name);

// The archive entry that holds a class named as the launcher takes it
// (dots or slashes): com.example.Main -> com/example/Main.class.
std::string classEntryName(const std::string& className);

// The Main-Class of the archive's manifest, or empty (no manifest, no such
// attribute, or a manifest that cannot be read).
std::string manifestMainClass(const Bytes& archive, const ZipView& view);

// The class is an entry of the archive, at its own name or in a version
// folder of a multi-release archive.
bool archiveHoldsClass(const ZipView& view, const std::string& className);

}  // namespace qlx::wrap
