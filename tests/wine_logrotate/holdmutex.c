/* Holds a named mutex the way one of the user's own processes that is stuck
 * would: made with the user as its owner, owned, READY created, and let go
 * only when RELEASE appears (or after two minutes).
 * holdmutex.exe NAME READY RELEASE */
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  HANDLE token;
  char user[256];
  DWORD size = 0;
  SECURITY_DESCRIPTOR descriptor;
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, FALSE};
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) ||
      !GetTokenInformation(token, TokenUser, user, sizeof user, &size) ||
      !InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorOwner(&descriptor, ((TOKEN_USER*)user)->User.Sid, FALSE)) {
    return 4;
  }
  HANDLE mutex = CreateMutexA(&attributes, TRUE, argv[1]);
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
