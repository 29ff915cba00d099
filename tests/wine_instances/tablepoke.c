/* Test helper: a process of the same user that reaches an instance table
 * directly, as a crashed or hostile one could, and reads back how the table
 * is protected.
 *   tablepoke TABLE corrupt PID        a garbled chunk for PID and an impossible count
 *   tablepoke TABLE fill MS            the list filled with 250 copies of this live
 *                                      process's id, then stays alive MS ms
 *   tablepoke TABLE send PID FILE      FILE's bytes as one object message to PID,
 *                                      written chunk by chunk into the slot
 *   tablepoke TABLE hold MS            makes itself the owner, leaves a chunk for
 *                                      itself in the slot, then stays alive MS ms
 *   tablepoke TABLE security           prints the mapping's name, owner and DACL
 *   tablepoke TABLE squat WHAT MS      makes the table's object WHAT (mapping, mutex,
 *                                      change) first, owned by BUILTIN\Users and open
 *                                      to everyone, as another user could; prints its
 *                                      owner, then stays alive MS ms
 * TABLE is app:APPID or exe:PATH; the names follow the launcher's rule
 * (Local\qlx.<user SID>.<app.APPID | exe.<volume>-<file index>>). Prints "ready"
 * once done (send, corrupt) or holding (fill, hold). */
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static char base[1024];
static char userSid[256];
static PSID userSidBinary;

static void put(unsigned char* table, int offset, DWORD value) { memcpy(table + offset, &value, 4); }
static DWORD get(unsigned char* table, int offset) {
  DWORD value;
  memcpy(&value, table + offset, 4);
  return value;
}

static int findUser(void) {
  HANDLE token;
  static BYTE buffer[512];
  DWORD size = 0;
  char* text;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return 0;
  if (!GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size)) return 0;
  userSidBinary = ((TOKEN_USER*)buffer)->User.Sid;
  if (!ConvertSidToStringSidA(userSidBinary, &text)) return 0;
  strcpy(userSid, text);
  return 1;
}

static int makeBase(const char* table) {
  if (!strncmp(table, "app:", 4)) {
    char id[512];
    char* c;
    strcpy(id, table + 4);
    for (c = id; *c; ++c) if (*c == '\\') *c = '.';
    sprintf(base, "Local\\qlx.%s.app.%s", userSid, id);
    return 1;
  }
  if (!strncmp(table, "exe:", 4)) {
    BY_HANDLE_FILE_INFORMATION info;
    HANDLE file = CreateFileA(table + 4, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(file, &info)) return 0;
    sprintf(base, "Local\\qlx.%s.exe.%08lx-%08lx%08lx", userSid, info.dwVolumeSerialNumber,
            info.nFileIndexHigh, info.nFileIndexLow);
    return 1;
  }
  return 0;
}

static HANDLE openNamed(const char* suffix, int event) {
  char name[1200];
  sprintf(name, "%s%s", base, suffix);
  return event ? OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name)
               : OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name);
}

static void signalChange(unsigned char* table, HANDLE change, DWORD target) {
  char suffix[64];
  HANDLE wake;
  if (change) PulseEvent(change);
  put(table, 32, get(table, 32) + 1);
  sprintf(suffix, ".wake.%lu", target);
  wake = openNamed(suffix, 1);
  if (wake) {
    SetEvent(wake);
    CloseHandle(wake);
  }
}

static int security(HANDLE mapping, const char* name) {
  PSID owner = NULL;
  PACL dacl = NULL;
  PSECURITY_DESCRIPTOR sd = NULL;
  ACL_SIZE_INFORMATION size;
  char* text;
  DWORD i;
  if (GetSecurityInfo(mapping, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                      &owner, NULL, &dacl, NULL, &sd) != ERROR_SUCCESS) {
    printf("getsecurityinfo failed %lu\n", GetLastError());
    return 1;
  }
  printf("name=%s\nuser=%s\n", name, userSid);
  if (owner && ConvertSidToStringSidA(owner, &text)) printf("owner=%s\n", text);
  if (dacl == NULL) {
    printf("dacl=none\n");
    return 0;
  }
  GetAclInformation(dacl, &size, sizeof(size), AclSizeInformation);
  printf("aces=%lu\n", size.AceCount);
  for (i = 0; i < size.AceCount; ++i) {
    ACE_HEADER* ace;
    if (!GetAce(dacl, i, (void**)&ace)) continue;
    if (ace->AceType == ACCESS_ALLOWED_ACE_TYPE) {
      ACCESS_ALLOWED_ACE* allowed = (ACCESS_ALLOWED_ACE*)ace;
      ConvertSidToStringSidA((PSID)&allowed->SidStart, &text);
      printf("ace%lu=allow %s 0x%08lx\n", i, text, allowed->Mask);
    } else {
      printf("ace%lu=type %d\n", i, ace->AceType);
    }
  }
  return 0;
}

/* The object another user makes under the table's name before any
 * instance runs. */
static int squat(const char* what, DWORD ms) {
  SECURITY_DESCRIPTOR sd;
  SECURITY_ATTRIBUTES sa;
  PSID other = NULL, owner = NULL;
  PSECURITY_DESCRIPTOR found = NULL;
  char name[1200], *text;
  HANDLE object = NULL;
  if (!ConvertStringSidToSidA("S-1-5-32-545", &other)) return 1;
  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorOwner(&sd, other, FALSE);
  SetSecurityDescriptorDacl(&sd, TRUE, NULL, FALSE);
  sa.nLength = sizeof(sa);
  sa.lpSecurityDescriptor = &sd;
  sa.bInheritHandle = FALSE;
  if (!strcmp(what, "mapping")) {
    sprintf(name, "%s.qlx.mapping", base);
    object = CreateFileMappingA(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0, 4096, name);
  } else if (!strcmp(what, "mutex")) {
    sprintf(name, "%s.slot.qlx.mutex", base);
    object = CreateMutexA(&sa, FALSE, name);
  } else {
    sprintf(name, "%s.change", base);
    object = CreateEventA(&sa, TRUE, FALSE, name);
  }
  if (object == NULL) return 1;
  if (GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, NULL, NULL,
                      NULL, &found) == ERROR_SUCCESS && owner && ConvertSidToStringSidA(owner, &text)) {
    printf("owner=%s\n", text);
  }
  printf("ready\n");
  fflush(stdout);
  Sleep(ms);
  return 0;
}

/* One message (kind 0, reply id 1, the file as payload) chunk by chunk,
 * each written while holding the slot mutex, as an instance would. */
static int sendFile(unsigned char* table, DWORD target, const char* path) {
  HANDLE mutex = openNamed(".slot.qlx.mutex", 0), change = openNamed(".change", 1);
  FILE* in = fopen(path, "rb");
  static unsigned char message[1 << 20];
  DWORD size, sent = 0, serial, waited;
  if (in == NULL) return 1;
  size = 8 + (DWORD)fread(message + 8, 1, sizeof(message) - 8, in);
  fclose(in);
  put(message, 0, 0);
  put(message, 4, 1);
  serial = get(table, 4);
  put(table, 4, serial + 1);
  while (sent < size) {
    DWORD length = size - sent < 1024 ? size - sent : 1024;
    for (waited = 0; get(table, 48) != 0 && waited < 20000; waited += 10) Sleep(10);
    if (mutex) WaitForSingleObject(mutex, 2000);
    put(table, 48, 1);
    put(table, 40, 0);
    put(table, 36, GetCurrentProcessId());
    put(table, 56, serial);
    put(table, 44, get(table, 8));
    put(table, 8, get(table, 8) + 1);
    put(table, 60, sent / 1024);
    put(table, 64, (size - 1) / 1024);
    put(table, 68, 1024);
    put(table, 72, size);
    put(table, 76, length);
    put(table, 52, 0);
    memcpy(table + 80, message + sent, length);
    put(table, 40, target);
    if (mutex) ReleaseMutex(mutex);
    signalChange(table, change, target);
    sent += length;
  }
  for (waited = 0; get(table, 48) != 0 && waited < 20000; waited += 10) Sleep(10);
  return 0;
}

int main(int argc, char** argv) {
  HANDLE mapping;
  unsigned char* table;
  char name[1200];
  int i;
  if (argc < 3 || !findUser() || !makeBase(argv[1])) return 2;
  if (!strcmp(argv[2], "squat")) return argc < 5 ? 2 : squat(argv[3], (DWORD)strtoul(argv[4], NULL, 10));
  sprintf(name, "%s.qlx.mapping", base);
  mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
  if (mapping == NULL) {
    printf("no mapping %s\n", name);
    return 1;
  }
  if (!strcmp(argv[2], "security")) return security(mapping, name);
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
  } else if (!strcmp(argv[2], "send")) {
    if (argc < 5 || sendFile(table, (DWORD)strtoul(argv[3], NULL, 10), argv[4]) != 0) return 1;
  } else if (!strcmp(argv[2], "hold")) {
    put(table, 0, GetCurrentProcessId());  /* an owner that runs no receiver */
    put(table, 36, GetCurrentProcessId());
    put(table, 56, 0x7fff0000);
    put(table, 60, 0);
    put(table, 64, 0);
    put(table, 72, 100);
    put(table, 76, 100);
    put(table, 52, 0);
    put(table, 48, 1);
    put(table, 40, GetCurrentProcessId()); /* for a live process that never takes it */
  } else {
    for (i = 0; i < 250; ++i) put(table, 1108 + 4 * i, GetCurrentProcessId());
    put(table, 1104, 250);
  }
  printf("ready\n");
  fflush(stdout);
  if (!strcmp(argv[2], "fill") || !strcmp(argv[2], "hold")) Sleep((DWORD)strtoul(argv[3], NULL, 10));
  return 0;
}
