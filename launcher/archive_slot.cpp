// The archive length slot (placeholder).
#include "launcher/launcher_context.h"
namespace qlx {
int64_t archiveLengthFromSlot() { return 0; }
}  // namespace qlx
