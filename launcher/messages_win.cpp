// String table lookup: the texts live in RT_STRING blocks of 16 counted
// UTF-16 strings, so the generator can replace per-application texts
// without touching the code.
#include "launcher/messages.h"

#include <cstring>

#include "launcher/text.h"
#include "launcher/win32.h"

namespace qlx {

std::string stringTableText(int id) {
  if (id < 0 || id > 0xFFFF) return std::string();
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id / 16 + 1), MAKEINTRESOURCEA(6));
  if (resource == nullptr) return std::string();
  DWORD size = SizeofResource(module, resource);
  HGLOBAL loaded = LoadResource(module, resource);
  const uint8_t* block = loaded ? static_cast<const uint8_t*>(LockResource(loaded)) : nullptr;
  if (block == nullptr) return std::string();

  // Walk the counted strings, never past the block's end even if the
  // resource was damaged.
  size_t offset = 0;
  for (int index = 0;; ++index) {
    if (offset + 2 > size) return std::string();
    uint16_t count;
    std::memcpy(&count, block + offset, 2);
    offset += 2;
    if (offset + size_t{count} * 2 > size) return std::string();
    if (index == id % 16) {
      std::u16string units(count, u'\0');
      if (count > 0) std::memcpy(&units[0], block + offset, size_t{count} * 2);
      return utf16ToNarrow(units);
    }
    offset += size_t{count} * 2;
  }
}

}  // namespace qlx

namespace qlx {
namespace {

// Standard output as the process received it, captured before main runs and
// so before the configuration can redirect it. The copy survives the
// redirection closing the runtime's descriptor; a service started by the
// manager has no standard output, and then nothing is kept.
struct StartOutput {
  HANDLE original = nullptr;
  HANDLE copy = nullptr;
  bool console = false;

  StartOutput() {
    original = GetStdHandle(STD_OUTPUT_HANDLE);
    if (original == nullptr || original == INVALID_HANDLE_VALUE) return;
    HANDLE self = GetCurrentProcess();
    if (!DuplicateHandle(self, original, self, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
      copy = nullptr;
    DWORD mode = 0;
    console = copy != nullptr && GetConsoleMode(copy, &mode) != FALSE;
  }
};

StartOutput gStartOutput;

}  // namespace

bool startOutputRedirected() {
  return gStartOutput.copy != nullptr && GetStdHandle(STD_OUTPUT_HANDLE) != gStartOutput.original;
}

bool startOutputInteractive() { return gStartOutput.console; }

void writeStartOutput(const std::string& text) {
  if (gStartOutput.copy == nullptr || text.empty()) return;
  // Line ends as the runtime's text-mode stdout writes them.
  std::string lines;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) lines.push_back('\r');
    lines.push_back(text[i]);
  }
  DWORD written = 0;
  WriteFile(gStartOutput.copy, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
}

}  // namespace qlx
