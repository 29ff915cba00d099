// The system tray: icons in the notification area, their pop-up menus, and
// the hidden window whose thread carries every shell notification and menu
// command into the application's one tray callback object.
//
// Portable code: the icon table and its rules (tray_table.cpp), the calls
// into Java (tray_dispatch.cpp) and the natives of SystemTray and
// SystemTrayMenu (tray_natives.cpp, tray_menu_natives.cpp). The platform
// files provide the window, the shell and the menus: tray_window_win.cpp
// and tray_menu_win.cpp on Windows; tray_posix.cpp on Linux, where there is
// no tray and all of them are inert.
#pragma once

#include <cstdint>
#include <string>

namespace qlx {

// --- used by the start-up sequence ---------------------------------------
// Starts the window thread and waits (at most 30 s) until its window exists
// or could not be made. Called once, just before the application runs.
void startTrayWindowThread();
// Takes every icon still present out of the notification area, last added
// first, and frees the records. Only the first call does anything.
void removeTrayIcons();

// --- numbers shared with the shell ----------------------------------------
constexpr uint32_t kTrayCallbackMessage = 1124;  // WM_USER + 100
constexpr uint32_t kFirstMenuCommand = 50000;    // item number 0
constexpr uint32_t kMenuCommandSpan = 1000;      // item numbers 0..1000 reach Java
constexpr uint32_t kNotifyIconShortSize = 104;   // NOTIFYICONDATAA, first layout
constexpr uint32_t kNotifyIconLongSize = 504;    // version 2 layout: balloons
constexpr uint32_t kNotifyIconFlags = 0x17;      // message, icon, tip, info

// The text fields of an icon, sized as the shell's structure has them.
struct TrayIconRecord {
  uint32_t size = kNotifyIconShortSize;
  uint32_t id = 0;
  intptr_t icon = 0;  // HICON, owned by the record
  char tip[64] = {};
  char info[256] = {};
  char infoTitle[64] = {};
  uint32_t infoFlags = 0;
  bool shown = false;
};

// Bytes of the narrow character at the start of `text` (at most
// `available`); the process locale's rule by default, the one the
// conversion from Java used.
using CharacterLength = size_t (*)(const char* text, size_t available);
size_t localeCharacterLength(const char* text, size_t available);

// Copies narrow text into a field of `capacity` bytes (terminator
// included), cut before the first character that does not fit whole.
void copyCutText(char* field, size_t capacity, const std::string& text,
                 CharacterLength length = localeCharacterLength);

// The structure size of a new record: balloons need the long layout, which
// only shell 5 and later understand, and both balloon texts.
uint32_t recordSizeFor(int shellMajorVersion, bool hasInfo, bool hasInfoTitle);

// Whether a WM_COMMAND id is one of the menu commands that reach Java.
inline bool isMenuCommand(uintptr_t command) {
  return command - kFirstMenuCommand <= kMenuCommandSpan;
}

// --- calls into Java, on the window thread --------------------------------
void dispatchMouseNotification(uint32_t iconId, int32_t message);
void dispatchMenuCommand(uint32_t command);

// --- platform side --------------------------------------------------------
enum class ShellRequest { Add, Modify, Delete };
int shellMajorVersion();        // probed once; 4 when it cannot be told
intptr_t trayWindowHandle();    // 0 when there is no tray window
intptr_t loadTrayIcon(int resourceId);
void destroyTrayIcon(intptr_t icon);
void notifyShell(ShellRequest request, const TrayIconRecord& record);

intptr_t createPopupMenu();
void appendMenuItem(intptr_t menu, const std::string& label, uint32_t commandId);
void appendSubmenu(intptr_t menu, const std::string& label, intptr_t submenu);
// Takes the item that shows `submenu` out of `menu`; the sub-menu stays.
void detachSubmenu(intptr_t menu, intptr_t submenu);
void appendMenuSeparator(intptr_t menu);
// Opens the menu at the mouse position; returns when it closes.
void popupMenu(intptr_t menu);
void destroyMenu(intptr_t menu);

}  // namespace qlx
