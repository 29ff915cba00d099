// Linux has no notification area: there is no tray window, icons are never
// shown anywhere and menus are never made, so the natives keep their
// records and do nothing visible, and no notification ever arrives.
#include "tray/tray.h"

namespace qlx {

void startTrayWindowThread() {}
int shellMajorVersion() { return 4; }
intptr_t trayWindowHandle() { return 0; }
intptr_t loadTrayIcon(int) { return 0; }
void destroyTrayIcon(intptr_t) {}
void notifyShell(ShellRequest, const TrayIconRecord&) {}

intptr_t createPopupMenu() { return 0; }
void appendMenuItem(intptr_t, const std::string&, uint32_t) {}
void appendSubmenu(intptr_t, const std::string&, intptr_t) {}
void detachSubmenu(intptr_t, intptr_t) {}
void appendMenuSeparator(intptr_t) {}
void popupMenu(intptr_t) {}
void destroyMenu(intptr_t) {}

}  // namespace qlx
