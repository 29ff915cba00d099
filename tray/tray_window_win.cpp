// The tray on Windows: the hidden window "QLXMESSAGE" and its thread, the
// shell version probe, icons from the executable's resources and
// Shell_NotifyIconA.
#include <process.h>

#include <atomic>
#include <cstring>

#include "launcher/handle_win.h"
#include "launcher/win32.h"
#include "tray/tray.h"
#include "vm/vm_gate.h"

#include <shellapi.h>
#include <shlwapi.h>

namespace qlx {

namespace {

// The version 2 layout of the structure ends after dwInfoFlags.
static_assert(offsetof(NOTIFYICONDATAA, guidItem) == kNotifyIconLongSize,
              "the long layout is the structure up to its balloon flags");
static_assert(NOTIFYICONDATAA_V1_SIZE == kNotifyIconShortSize, "the first layout");

const char kWindowName[] = "QLXMESSAGE";
// Asks the window thread to close the pop-up menu it shows, if any: only
// the thread that opened a menu can end it.
constexpr UINT kEndMenuMessage = WM_APP + 1;

struct TrayWindow {
  std::atomic<HWND> window{nullptr};
  void (*onMouse)(uint32_t iconId, int32_t message) = nullptr;
  void (*onCommand)(uint32_t command) = nullptr;
  ScopedKernelHandle ready;
};

// The tray window the window procedure forwards to; cleared when the
// window is destroyed, so nothing is forwarded afterwards.
std::atomic<TrayWindow*> gCurrent{nullptr};

LRESULT CALLBACK trayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  TrayWindow* current = gCurrent.load();
  switch (message) {
    case WM_DESTROY:
      gCurrent = nullptr;
      PostQuitMessage(0);
      return 0;
    case WM_COMMAND:
      if (current != nullptr && isMenuCommand(wParam)) {
        current->onCommand(static_cast<uint32_t>(wParam));
      }
      return 0;
    case kEndMenuMessage:
      EndMenu();
      return 0;
    case kTrayCallbackMessage:
      if (current != nullptr) {
        current->onMouse(static_cast<uint32_t>(wParam), static_cast<int32_t>(lParam));
      }
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

HWND createTrayWindow() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = trayWindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = kWindowName;
  if (RegisterClassA(&windowClass) == 0) return nullptr;
  HWND window = CreateWindowExA(0, kWindowName, kWindowName, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                100, 0, nullptr, nullptr, instance, nullptr);
  if (window != nullptr) {
    ShowWindow(window, SW_HIDE);
    UpdateWindow(window);
  }
  return window;
}

unsigned __stdcall trayWindowThread(void* parameter) {
  TrayWindow* tray = static_cast<TrayWindow*>(parameter);
  HWND window = createTrayWindow();
  tray->window = window;
  SetEvent(tray->ready.get());
  if (window == nullptr) return 0;
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}

// When the VM begins to end, a menu the window thread holds open inside a
// callback is closed, so the thread leaves Java before the VM goes.
void closeOpenMenu() {
  TrayWindow* current = gCurrent.load();
  HWND window = current != nullptr ? current->window.load() : nullptr;
  if (window != nullptr) PostMessageA(window, kEndMenuMessage, 0, 0);
}

int probeShellVersion() {
  ScopedLibrary shell(LoadLibraryA("shell32.dll"));
  if (!shell) return 4;
  auto getVersion = reinterpret_cast<DLLGETVERSIONPROC>(
      reinterpret_cast<void*>(GetProcAddress(shell.get(), "DllGetVersion")));
  if (getVersion == nullptr) return 4;
  DLLVERSIONINFO info = {};
  info.cbSize = sizeof info;
  info.dwMajorVersion = 4;
  if (FAILED(getVersion(&info))) return 4;
  return static_cast<int>(info.dwMajorVersion);
}

}  // namespace

int shellMajorVersion() {
  static const int major = probeShellVersion();
  return major;
}

void startTrayWindowThread() {
  shellMajorVersion();  // probed before any Java code can ask
  // Lives for the rest of the process, like its window.
  static TrayWindow tray;
  tray.ready.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  tray.onMouse = dispatchMouseNotification;
  tray.onCommand = dispatchMenuCommand;
  gCurrent = &tray;
  vmGate().addClosingListener(closeOpenMenu);
  ScopedKernelHandle thread(reinterpret_cast<HANDLE>(
      _beginthreadex(nullptr, 0, trayWindowThread, &tray, 0, nullptr)));
  if (thread && tray.ready) WaitForSingleObject(tray.ready.get(), 30000);
}

intptr_t trayWindowHandle() {
  TrayWindow* current = gCurrent.load();
  return current != nullptr ? reinterpret_cast<intptr_t>(current->window.load()) : 0;
}

intptr_t loadTrayIcon(int resourceId) {
  HANDLE icon = LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(resourceId & 0xFFFF),
                           IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR);
  return reinterpret_cast<intptr_t>(icon);
}

void destroyTrayIcon(intptr_t icon) {
  if (icon != 0) DestroyIcon(reinterpret_cast<HICON>(icon));
}

void notifyShell(ShellRequest request, const TrayIconRecord& record) {
  NOTIFYICONDATAA data;
  std::memset(&data, 0, sizeof data);
  data.cbSize = record.size;
  data.hWnd = reinterpret_cast<HWND>(trayWindowHandle());
  data.uID = record.id;
  data.uFlags = kNotifyIconFlags;
  data.uCallbackMessage = kTrayCallbackMessage;
  data.hIcon = reinterpret_cast<HICON>(record.icon);
  std::memcpy(data.szTip, record.tip, sizeof data.szTip);
  std::memcpy(data.szInfo, record.info, sizeof data.szInfo);
  std::memcpy(data.szInfoTitle, record.infoTitle, sizeof data.szInfoTitle);
  data.dwInfoFlags = record.infoFlags;
  const DWORD message = request == ShellRequest::Add      ? NIM_ADD
                        : request == ShellRequest::Modify ? NIM_MODIFY
                                                          : NIM_DELETE;
  Shell_NotifyIconA(message, &data);
}

}  // namespace qlx
