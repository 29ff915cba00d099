/* Test helper: holds a named event for a while, so that a mutex of the same
 * name cannot be created. Usage: named_event NAME MILLISECONDS */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  HANDLE event = CreateEventA(NULL, TRUE, FALSE, argv[1]);
  if (event == NULL) return 1;
  printf("ready\n");
  fflush(stdout);
  Sleep((DWORD)strtoul(argv[2], NULL, 10));
  return 0;
}
