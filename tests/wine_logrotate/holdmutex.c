/* Holds a named mutex the way a stuck or hostile process would: creates it
 * owned, creates READY, and lets it go only when RELEASE appears (or after
 * two minutes). holdmutex.exe NAME READY RELEASE */
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  HANDLE mutex = CreateMutexA(NULL, TRUE, argv[1]);
  if (mutex == NULL) return 3;
  HANDLE ready = CreateFileA(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  CloseHandle(ready);
  for (int waited = 0; waited < 120000; waited += 50) {
    if (GetFileAttributesA(argv[3]) != INVALID_FILE_ATTRIBUTES) break;
    Sleep(50);
  }
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  return 0;
}
