// Built-in string table of the Linux build (placeholder).
#include "launcher/messages.h"
namespace qlx {
std::string stringTableText(int) { return {}; }
}  // namespace qlx
