/* Plays the shell to a running tray program: finds its hidden "QLXMESSAGE"
 * window and posts it what the shell and a menu would. Actions, in order:
 *   w MS          wait up to MS ms for the window (exit 1 if it never comes)
 *   t ID MSG      the tray callback message 1124 (wParam ID, lParam MSG)
 *   c CMD         WM_COMMAND with wParam CMD
 *   s MS          sleep
 *   b N M W L     message M sent N times with (W, L) and timed, printing
 *                 "sent N in US us"
 * Numbers may be decimal or 0x hex. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

static HWND find(void) { return FindWindowA("QLXMESSAGE", "QLXMESSAGE"); }

int main(int argc, char** argv) {
  HWND window = find();
  int i;
  for (i = 1; i < argc; ++i) {
    char action = argv[i][0];
    long a = i + 1 < argc ? strtol(argv[i + 1], NULL, 0) : 0;
    long b = i + 2 < argc ? strtol(argv[i + 2], NULL, 0) : 0;
    if (action == 'w') {
      DWORD end = GetTickCount() + (DWORD)a;
      while ((window = find()) == NULL && (LONG)(end - GetTickCount()) > 0) Sleep(50);
      if (window == NULL) return 1;
      i += 1;
    } else if (action == 't') {
      PostMessageA(window, WM_USER + 100, (WPARAM)a, (LPARAM)b);
      i += 2;
    } else if (action == 'c') {
      PostMessageA(window, WM_COMMAND, (WPARAM)(unsigned long)a, 0);
      i += 1;
    } else if (action == 's') {
      Sleep((DWORD)a);
      i += 1;
    } else if (action == 'b' && i + 4 < argc) {
      LARGE_INTEGER f, t0, t1;
      UINT message = (UINT)b;
      WPARAM w = (WPARAM)strtol(argv[i + 3], NULL, 0);
      LPARAM l = (LPARAM)strtol(argv[i + 4], NULL, 0);
      long n;
      QueryPerformanceFrequency(&f);
      QueryPerformanceCounter(&t0);
      for (n = 0; n < a; ++n) SendMessageA(window, message, w, l);
      QueryPerformanceCounter(&t1);
      printf("sent %ld in %lld us\n", a, (t1.QuadPart - t0.QuadPart) * 1000000 / f.QuadPart);
      i += 4;
    } else {
      return 2;
    }
  }
  fflush(stdout);
  return 0;
}
