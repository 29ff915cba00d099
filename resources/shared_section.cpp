// The executable's shared image section: the Windows loader gives every
// process running this same file the same memory for it, which makes it the
// default home of the shared instance table (no named object needed).
#include "resources/shared_section.h"

namespace qlx {

// Zero-initialised yet kept as file data: the section must be initialised,
// shared, readable and writable, and occupy its bytes in the image.
__attribute__((section(".SHMMESS"), shared, used)) volatile unsigned char
    gSharedSection[kSharedSectionSize] = {};

volatile unsigned char* sharedSectionMemory() { return gSharedSection; }

}  // namespace qlx
