/* Baseline of the instances benchmark under Wine: COUNT round trips of SIZE
 * bytes to a child process through anonymous pipes, each answered with 4
 * bytes. Prints the elapsed microseconds.
 *   pipe_round_trip SIZE COUNT */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

static int move(HANDLE h, char* buffer, DWORD size, int writing) {
  DWORD done = 0, n;
  while (done < size) {
    BOOL ok = writing ? WriteFile(h, buffer + done, size - done, &n, NULL)
                      : ReadFile(h, buffer + done, size - done, &n, NULL);
    if (!ok || n == 0) return 0;
    done += n;
  }
  return 1;
}

int main(int argc, char** argv) {
  DWORD size, count, i;
  char* buffer;
  if (argc < 3) return 2;
  if (!strcmp(argv[1], "child")) {
    size = strtoul(argv[2], NULL, 10);
    count = strtoul(argv[3], NULL, 10);
    buffer = malloc(size);
    for (i = 0; i < count; ++i) {
      if (!move(GetStdHandle(STD_INPUT_HANDLE), buffer, size, 0)) return 1;
      if (!move(GetStdHandle(STD_OUTPUT_HANDLE), buffer, 4, 1)) return 1;
    }
    return 0;
  }
  size = strtoul(argv[1], NULL, 10);
  count = strtoul(argv[2], NULL, 10);
  buffer = calloc(1, size);
  {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
    HANDLE toChildRead, toChildWrite, fromChildRead, fromChildWrite;
    STARTUPINFOA startup = {sizeof(startup)};
    PROCESS_INFORMATION child;
    char command[512];
    LARGE_INTEGER t0, t1, frequency;
    CreatePipe(&toChildRead, &toChildWrite, &inherit, 65536);
    CreatePipe(&fromChildRead, &fromChildWrite, &inherit, 65536);
    SetHandleInformation(toChildWrite, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(fromChildRead, HANDLE_FLAG_INHERIT, 0);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = toChildRead;
    startup.hStdOutput = fromChildWrite;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    snprintf(command, sizeof(command), "\"%s\" child %lu %lu", argv[0], size, count);
    if (!CreateProcessA(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &child)) return 1;
    CloseHandle(toChildRead);
    CloseHandle(fromChildWrite);
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&t0);
    for (i = 0; i < count; ++i) {
      if (!move(toChildWrite, buffer, size, 1) || !move(fromChildRead, buffer, 4, 0)) return 1;
    }
    QueryPerformanceCounter(&t1);
    printf("%lld\n", (long long)((t1.QuadPart - t0.QuadPart) * 1000000 / frequency.QuadPart));
    WaitForSingleObject(child.hProcess, 10000);
  }
  return 0;
}
