/* Reads a program's resources back the way Windows programs do: the
 * version API, the icon lookup a shell makes per size, and the manifest.
 * Prints one "name=value" line per finding (UTF-8) for the tests. */
#include <stdio.h>
#include <windows.h>

static void print_wide(const char *name, const wchar_t *value) {
  char out[1024];
  WideCharToMultiByte(CP_UTF8, 0, value, -1, out, sizeof out, NULL, NULL);
  printf("%s=%s\n", name, out);
}

int main(int argc, char **argv) {
  static const wchar_t *names[] = {L"CompanyName", L"FileDescription", L"FileVersion",
                                   L"InternalName", L"LegalCopyright", L"OriginalFilename",
                                   L"ProductName", L"ProductVersion"};
  wchar_t path[MAX_PATH];
  if (argc < 2) return 2;
  MultiByteToWideChar(CP_ACP, 0, argv[1], -1, path, MAX_PATH);
  DWORD handle = 0, size = GetFileVersionInfoSizeW(path, &handle);
  if (size != 0) {
    void *info = malloc(size);
    VS_FIXEDFILEINFO *fixed;
    DWORD *translation;
    UINT len;
    GetFileVersionInfoW(path, 0, size, info);
    if (VerQueryValueW(info, L"\\", (void **)&fixed, &len))
      printf("fixed=%lu.%lu.%lu.%lu\n", fixed->dwFileVersionMS >> 16,
             fixed->dwFileVersionMS & 0xFFFF, fixed->dwFileVersionLS >> 16,
             fixed->dwFileVersionLS & 0xFFFF);
    if (VerQueryValueW(info, L"\\VarFileInfo\\Translation", (void **)&translation, &len))
      printf("translation=%04lx%04lx\n", *translation & 0xFFFF, *translation >> 16);
    for (int i = 0; i < 8; ++i) {
      wchar_t query[128], *value;
      swprintf(query, 128, L"\\StringFileInfo\\040904B0\\%ls", names[i]);
      char name[64];
      WideCharToMultiByte(CP_UTF8, 0, names[i], -1, name, sizeof name, NULL, NULL);
      if (VerQueryValueW(info, query, (void **)&value, &len)) print_wide(name, value);
    }
  }
  HMODULE module = LoadLibraryExW(path, NULL, LOAD_LIBRARY_AS_DATAFILE);
  if (module == NULL) return 3;
  HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(1), (LPCWSTR)RT_GROUP_ICON);
  if (group != NULL) {
    BYTE *dir = LockResource(LoadResource(module, group));
    static const int sizes[] = {16, 32, 48, 256};
    for (int i = 0; i < 4; ++i) {
      int id = LookupIconIdFromDirectoryEx(dir, TRUE, sizes[i], sizes[i], LR_DEFAULTCOLOR);
      HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(id), (LPCWSTR)RT_ICON);
      if (res == NULL) continue;
      HICON icon = CreateIconFromResourceEx(LockResource(LoadResource(module, res)),
                                            SizeofResource(module, res), TRUE, 0x30000,
                                            sizes[i], sizes[i], LR_DEFAULTCOLOR);
      ICONINFO ii;
      BITMAP bm;
      if (icon != NULL && GetIconInfo(icon, &ii) &&
          GetObjectW(ii.hbmColor ? ii.hbmColor : ii.hbmMask, sizeof bm, &bm))
        printf("icon%d=%ldx%ld\n", sizes[i], bm.bmWidth, bm.bmHeight);
    }
  }
  HRSRC manifest = FindResourceW(module, MAKEINTRESOURCEW(1), (LPCWSTR)RT_MANIFEST);
  if (manifest != NULL) {
    const char *text = LockResource(LoadResource(module, manifest));
    DWORD n = SizeofResource(module, manifest);
    const char *level = strstr(text, "requestedExecutionLevel level=\"");
    printf("manifest=%lu bytes\n", n);
    if (level != NULL) printf("level=%.*s\n", (int)strcspn(level + 31, "\""), level + 31);
    printf("utf8=%s\n", strstr(text, ">UTF-8<") ? "yes" : "no");
  }
  return 0;
}
