// Pop-up menus on Windows. Items are appended at the end; a chosen item
// reaches the tray window as WM_COMMAND with its command id.
#include <cstring>

#include "launcher/win32.h"
#include "tray/tray.h"

namespace qlx {

namespace {

HMENU asMenu(intptr_t menu) { return reinterpret_cast<HMENU>(menu); }

void appendItem(intptr_t menu, MENUITEMINFOA& item) {
  item.cbSize = sizeof item;
  InsertMenuItemA(asMenu(menu), 0xFFFFFFFF, TRUE, &item);
}

}  // namespace

intptr_t createPopupMenu() { return reinterpret_cast<intptr_t>(CreatePopupMenu()); }

void appendMenuItem(intptr_t menu, const std::string& label, uint32_t commandId) {
  std::string text = label;  // the call wants a writable buffer
  MENUITEMINFOA item;
  std::memset(&item, 0, sizeof item);
  item.fMask = MIIM_ID | MIIM_TYPE;
  item.fType = MFT_STRING;
  item.wID = commandId;
  item.dwTypeData = &text[0];
  appendItem(menu, item);
}

void appendSubmenu(intptr_t menu, const std::string& label, intptr_t submenu) {
  std::string text = label;
  MENUITEMINFOA item;
  std::memset(&item, 0, sizeof item);
  item.fMask = MIIM_SUBMENU | MIIM_TYPE;
  item.fType = MFT_STRING;
  item.dwTypeData = &text[0];
  item.hSubMenu = asMenu(submenu);
  appendItem(menu, item);
}

void detachSubmenu(intptr_t menu, intptr_t submenu) {
  const int count = GetMenuItemCount(asMenu(menu));
  for (int i = 0; i < count; ++i) {
    if (GetSubMenu(asMenu(menu), i) == asMenu(submenu)) {
      RemoveMenu(asMenu(menu), static_cast<UINT>(i), MF_BYPOSITION);
      return;
    }
  }
}

void appendMenuSeparator(intptr_t menu) {
  MENUITEMINFOA item;
  std::memset(&item, 0, sizeof item);
  item.fMask = MIIM_TYPE;
  item.fType = MFT_SEPARATOR;
  appendItem(menu, item);
}

void popupMenu(intptr_t menu) {
  POINT cursor = {};
  GetCursorPos(&cursor);
  HWND window = reinterpret_cast<HWND>(trayWindowHandle());
  // Without the foreground the menu would not close when the user clicks
  // elsewhere.
  if (window != nullptr) SetForegroundWindow(window);
  TrackPopupMenu(asMenu(menu), TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window, nullptr);
  // Lets the menu's owner finish the menu before the next one opens.
  if (window != nullptr) PostMessageA(window, WM_NULL, 0, 0);
}

void destroyMenu(intptr_t menu) { DestroyMenu(asMenu(menu)); }

}  // namespace qlx
