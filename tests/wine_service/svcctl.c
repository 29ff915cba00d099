/* Test client of the Service Control Manager (Wine's sc cannot pass start
 * parameters). Every status is printed as one line:
 *   state=N accepted=0xN win32=N specific=N checkpoint=N wait=N
 * Usage:
 *   svcctl start NAME [PARAM...]        StartServiceA with the parameters
 *   svcctl control NAME stop|pause|continue|interrogate|shutdown|N
 *   svcctl query NAME
 *   svcctl config NAME                  the stored configuration, a line each:
 *     start=N account=TEXT path=TEXT delayed=N flag=N preshutdown=MS
 *     reset=N actions=TYPE/MS,...        (what the manager cannot give is "?")
 *   svcctl watch NAME MS [STATE]        every new status for MS ms, or until
 *                                       STATE follows another one and the
 *                                       service's process has ended; each line
 *                                       starts with "t=MS " (time since start);
 *                                       "t=MS ended" when the process ends
 * Exit code 0, or 1 with "error N" (GetLastError) on standard output. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void print_status(const SERVICE_STATUS* s) {
  printf("state=%lu accepted=0x%lx win32=%lu specific=%lu checkpoint=%lu wait=%lu\n",
         s->dwCurrentState, s->dwControlsAccepted, s->dwWin32ExitCode,
         s->dwServiceSpecificExitCode, s->dwCheckPoint, s->dwWaitHint);
  fflush(stdout);
}

static int fail(void) {
  printf("error %lu\n", GetLastError());
  return 1;
}

static DWORD control_code(const char* word) {
  if (!strcmp(word, "stop")) return SERVICE_CONTROL_STOP;
  if (!strcmp(word, "pause")) return SERVICE_CONTROL_PAUSE;
  if (!strcmp(word, "continue")) return SERVICE_CONTROL_CONTINUE;
  if (!strcmp(word, "interrogate")) return SERVICE_CONTROL_INTERROGATE;
  if (!strcmp(word, "shutdown")) return SERVICE_CONTROL_SHUTDOWN;
  return (DWORD)strtoul(word, NULL, 0);
}

int main(int argc, char** argv) {
  SC_HANDLE manager, service;
  SERVICE_STATUS status;
  if (argc < 3) return 2;
  manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
  if (manager == NULL) return fail();
  service = OpenServiceA(manager, argv[2], SERVICE_ALL_ACCESS);
  if (service == NULL) return fail();
  if (!strcmp(argv[1], "start")) {
    if (!StartServiceA(service, (DWORD)(argc - 3), (LPCSTR*)(argv + 3))) return fail();
    printf("started\n");
  } else if (!strcmp(argv[1], "control") && argc > 3) {
    if (!ControlService(service, control_code(argv[3]), &status)) return fail();
    print_status(&status);
  } else if (!strcmp(argv[1], "query")) {
    if (!QueryServiceStatus(service, &status)) return fail();
    print_status(&status);
  } else if (!strcmp(argv[1], "config")) {
    static BYTE buffer[8192];
    DWORD needed = 0, i;
    QUERY_SERVICE_CONFIGA* config = (QUERY_SERVICE_CONFIGA*)buffer;
    SERVICE_DELAYED_AUTO_START_INFO delayed;
    SERVICE_FAILURE_ACTIONS_FLAG flag;
    SERVICE_PRESHUTDOWN_INFO preshutdown;
    SERVICE_FAILURE_ACTIONSA* actions = (SERVICE_FAILURE_ACTIONSA*)buffer;
    if (!QueryServiceConfigA(service, config, sizeof(buffer), &needed)) return fail();
    printf("start=%lu\naccount=%s\npath=%s", config->dwStartType,
           config->lpServiceStartName ? config->lpServiceStartName : "", config->lpBinaryPathName);
    if (QueryServiceConfig2A(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, (BYTE*)&delayed,
                             sizeof(delayed), &needed))
      printf("\ndelayed=%d", delayed.fDelayedAutostart ? 1 : 0);
    else
      printf("\ndelayed=?");
    if (QueryServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, (BYTE*)&flag,
                             sizeof(flag), &needed))
      printf("\nflag=%d", flag.fFailureActionsOnNonCrashFailures ? 1 : 0);
    else
      printf("\nflag=?");
    if (QueryServiceConfig2A(service, SERVICE_CONFIG_PRESHUTDOWN_INFO, (BYTE*)&preshutdown,
                             sizeof(preshutdown), &needed))
      printf("\npreshutdown=%lu", preshutdown.dwPreshutdownTimeout);
    else
      printf("\npreshutdown=?");
    if (QueryServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, buffer, sizeof(buffer),
                             &needed)) {
      printf("\nreset=%lu\nactions=", actions->dwResetPeriod);
      for (i = 0; i < actions->cActions; ++i)
        printf("%s%d/%lu", i ? "," : "", (int)actions->lpsaActions[i].Type,
               actions->lpsaActions[i].Delay);
    } else {
      printf("\nreset=?\nactions=?");
    }
    printf("\n");
  } else if (!strcmp(argv[1], "watch") && argc > 3) {
    DWORD end = GetTickCount() + (DWORD)strtoul(argv[3], NULL, 10);
    DWORD until = argc > 4 ? (DWORD)strtoul(argv[4], NULL, 10) : 0;
    DWORD begin = GetTickCount();
    int moved = 0, ended = 0;
    HANDLE process = NULL;
    SERVICE_STATUS last;
    SERVICE_STATUS_PROCESS full;
    DWORD needed;
    memset(&last, 0xff, sizeof(last));
    while ((LONG)(end - GetTickCount()) > 0) {
      if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (BYTE*)&full, sizeof(full),
                                &needed))
        return fail();
      memcpy(&status, &full, sizeof(status));
      if (process == NULL && full.dwProcessId != 0)
        process = OpenProcess(SYNCHRONIZE, FALSE, full.dwProcessId);
      if (memcmp(&status, &last, sizeof(status)) != 0) {
        printf("t=%lu ", GetTickCount() - begin);
        print_status(&status);
      }
      if (process != NULL && !ended && WaitForSingleObject(process, 0) == WAIT_OBJECT_0) {
        ended = 1;
        printf("t=%lu ended\n", GetTickCount() - begin);
        fflush(stdout);
      }
      last = status;
      if (status.dwCurrentState != until) moved = 1;
      if (until != 0 && moved && status.dwCurrentState == until && (process == NULL || ended))
        break;
      Sleep(20);
    }
  } else {
    return 2;
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return 0;
}
