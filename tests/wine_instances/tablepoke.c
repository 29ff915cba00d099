/* Test helper: writes into the instance table of an application id the way
 * a crashed or hostile process could.
 *   tablepoke NAME corrupt PID   a garbled chunk for PID and an impossible count
 *   tablepoke NAME fill MS       the list filled with 250 copies of this live
 *                                process's id, then stays alive MS ms
 * NAME is the mapping name (APPID.qlx.mapping). Prints "ready". */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void put(unsigned char* table, int offset, DWORD value) { memcpy(table + offset, &value, 4); }

int main(int argc, char** argv) {
  HANDLE mapping;
  unsigned char* table;
  int i;
  if (argc < 4) return 2;
  mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, argv[1]);
  if (mapping == NULL) return 1;
  table = (unsigned char*)MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 4096);
  if (table == NULL) return 1;
  if (!strcmp(argv[2], "corrupt")) {
    put(table, 36, 4242);           /* sender */
    put(table, 56, 77);             /* serial */
    put(table, 60, 0);              /* chunk index */
    put(table, 64, 3);              /* last index that fits no size */
    put(table, 72, 0xFFFFFFF0u);    /* a size no one can hold */
    put(table, 76, 5000);           /* more than the slot */
    put(table, 52, 0);              /* wait rounds */
    put(table, 48, 1);              /* busy */
    put(table, 40, (DWORD)strtoul(argv[3], NULL, 10));
    put(table, 1104, 100000);       /* instance count */
  } else {
    for (i = 0; i < 250; ++i) put(table, 1108 + 4 * i, GetCurrentProcessId());
    put(table, 1104, 250);
  }
  printf("ready\n");
  fflush(stdout);
  if (!strcmp(argv[2], "fill")) Sleep((DWORD)strtoul(argv[3], NULL, 10));
  return 0;
}
