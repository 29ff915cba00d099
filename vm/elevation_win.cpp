// Whether the process runs with an elevated (administrator) token. The
// answer becomes the qlx.is.elevated system property of the application.
#include "launcher/handle_win.h"
#include "launcher/win32.h"
#include "vm/launch.h"

namespace qlx {

bool isElevated() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  // Before Vista there is no split token: every user with the rights runs
  // with them, so the process counts as elevated.
  if (!GetVersionExA(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT ||
      version.dwMajorVersion < 6) {
    return true;
  }
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
  ScopedKernelHandle token(raw);
  TOKEN_ELEVATION elevation = {};
  DWORD returned = 0;
  if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &returned)) {
    return false;
  }
  return elevation.TokenIsElevated != 0;
}

}  // namespace qlx
