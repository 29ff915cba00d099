// qlxwrap's file access on Windows: UTF-8 paths become wide paths, so any
// file name works whatever the ANSI code page.
#include "launcher/win32.h"

#include <shellapi.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "launcher/handle_win.h"
#include "tools/qlxwrap/file_ops.h"

namespace qlx::wrap {
namespace {

std::wstring wide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], n);
  return out;
}

std::string utf8(const wchar_t* w, size_t len) {
  if (len == 0) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(len), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(len), &out[0], n, nullptr, nullptr);
  return out;
}

std::string lastError() {
  char buf[512];
  DWORD code = GetLastError();
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                           0, buf, sizeof buf, nullptr);
  while (n > 0 && (buf[n - 1] == '\n' || buf[n - 1] == '\r' || buf[n - 1] == ' ')) --n;
  return n > 0 ? std::string(buf, n) : "error " + std::to_string(code);
}

}  // namespace

std::vector<std::string> commandLineUtf8(int argc, char** argv) {
  int n = 0;
  LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &n);
  if (args == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i) out.push_back(utf8(args[i], wcslen(args[i])));
  LocalFree(args);
  return out;
}

bool fileExists(const std::string& path) {
  DWORD attr = GetFileAttributesW(wide(path).c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool sameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION info[2];
  const std::string* paths[2] = {&a, &b};
  for (int i = 0; i < 2; ++i) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    ScopedKernelHandle file(CreateFileW(wide(*paths[i]).c_str(), 0, share, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file || !GetFileInformationByHandle(file.get(), &info[i])) return false;
  }
  return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
         info[0].nFileIndexHigh == info[1].nFileIndexHigh &&
         info[0].nFileIndexLow == info[1].nFileIndexLow;
}

bool readWholeFile(const std::string& path, Bytes& out, std::string& error) {
  out.clear();
  FILE* f = _wfopen(wide(path).c_str(), L"rb");
  if (f == nullptr) {
    error = std::strerror(errno);
    return false;
  }
  uint8_t buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  bool ok = ferror(f) == 0;
  fclose(f);
  if (!ok) error = "read error";
  return ok;
}

bool writeFileAtomically(const std::string& path, const Bytes& data, const std::string&,
                         std::string& error) {
  std::string tmp = path + ".qlxwrap-" + std::to_string(GetCurrentProcessId()) + ".tmp";
  std::wstring wtmp = wide(tmp);
  FILE* f = _wfopen(wtmp.c_str(), L"wb");
  if (f == nullptr) {
    error = "cannot create " + tmp + ": " + lastError();
    return false;
  }
  bool ok = data.empty() || fwrite(data.data(), 1, data.size(), f) == data.size();
  ok = fflush(f) == 0 && ok;
  ok = fclose(f) == 0 && ok;
  if (!ok) {
    error = "cannot write the output";
    DeleteFileW(wtmp.c_str());
    return false;
  }
  if (!MoveFileExW(wtmp.c_str(), wide(path).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = "cannot rename into place: " + lastError();
    DeleteFileW(wtmp.c_str());
    return false;
  }
  return true;
}

std::string executableDirectory() {
  std::vector<wchar_t> buf(32768);
  DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
  std::string path = utf8(buf.data(), n);
  size_t sep = path.find_last_of("\\/");
  return sep == std::string::npos ? std::string(".\\") : path.substr(0, sep + 1);
}

}  // namespace qlx::wrap
