// The shared image section of the Windows launcher (shared_section.cpp),
// the instance table's home when no `appid` names a mapping. Only the
// Windows executable has it.
#pragma once

#include <cstddef>

namespace qlx {

inline constexpr size_t kSharedSectionSize = 3072;

// Start of the section, kSharedSectionSize bytes, zero when the first
// process of this file starts.
volatile unsigned char* sharedSectionMemory();

}  // namespace qlx
