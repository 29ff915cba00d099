/* What one write costs under Wine into a file and into a pipe drained by a
 * thread, with no launcher involved: the floor for any design that puts a
 * pipe behind the standard handle. Prints MB/s for both and their ratio.
 * wine_pipe_cost.exe FOLDER [LINES] */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static HANDLE readEnd;
static HANDLE sink;

static DWORD WINAPI drain(void* unused) {
  static char buffer[65536];
  DWORD got;
  while (ReadFile(readEnd, buffer, sizeof buffer, &got, NULL) && got > 0) {
    DWORD written;
    WriteFile(sink, buffer, got, &written, NULL);
  }
  (void)unused;
  return 0;
}

static double seconds(LARGE_INTEGER a, LARGE_INTEGER b, LARGE_INTEGER f) {
  return (double)(b.QuadPart - a.QuadPart) / (double)f.QuadPart;
}

static double run(HANDLE target, int lines) {
  char line[64];
  LARGE_INTEGER f, a, b;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&a);
  for (int n = 0; n < lines; n++) {
    int length = snprintf(line, sizeof line, "a %d java ................................\r\n", n);
    DWORD written;
    WriteFile(target, line, (DWORD)length, &written, NULL);
  }
  QueryPerformanceCounter(&b);
  return seconds(a, b, f);
}

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  int lines = argc > 2 ? atoi(argv[2]) : 20000;
  char path[MAX_PATH];
  snprintf(path, sizeof path, "%s\\direct.log", argv[1]);
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            CREATE_ALWAYS, 0, NULL);
  double direct = run(file, lines);
  CloseHandle(file);

  snprintf(path, sizeof path, "%s\\piped.log", argv[1]);
  sink = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                     CREATE_ALWAYS, 0, NULL);
  HANDLE writeEnd;
  CreatePipe(&readEnd, &writeEnd, NULL, 1 << 20);
  HANDLE thread = CreateThread(NULL, 0, drain, NULL, 0, NULL);
  double piped = run(writeEnd, lines);
  CloseHandle(writeEnd);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(sink);
  double mb = lines * 44.0 / (1 << 20);
  printf("file %.2f MB/s, pipe %.2f MB/s, pipe/file %.2f\n", mb / direct, mb / piped,
         direct / piped);
  return 0;
}
