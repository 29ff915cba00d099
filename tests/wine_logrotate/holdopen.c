/* Holds a file open the way another program (an editor, a backup tool)
 * might: reading and writing shared, deleting and renaming not. Creates
 * READY once the file is open and closes it when RELEASE appears.
 * holdopen.exe FILE READY RELEASE */
#include <stdio.h>
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return 3;
  HANDLE ready = CreateFileA(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  CloseHandle(ready);
  for (int waited = 0; waited < 120000; waited += 50) {
    if (GetFileAttributesA(argv[3]) != INVALID_FILE_ATTRIBUTES) break;
    Sleep(50);
  }
  CloseHandle(file);
  return 0;
}
