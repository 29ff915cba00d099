// Stand-in java.exe beside the stand-in jvm.dll: what the launcher starts
// to assemble an ahead-of-time cache. It appends its command line and what
// it saw to QLX_JVM_LOG ("java ARG|ARG|...", "java env NAME unset|=value"),
// and writes a file with a cache's head where -XX:SharedArchiveFile= says.
//   QLX_JAVA_SLEEP  milliseconds to wait before writing (a slow assembly)
//   QLX_JAVA_FAIL   when set: prints a line and ends with 1, writing nothing
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

std::string variable(const char* name) {
  char value[4096];
  const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

bool isSet(const char* name) { return GetEnvironmentVariableA(name, nullptr, 0) > 0; }

void append(const std::string& path, const std::string& line) {
  if (path.empty()) return;
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  const std::string text = line + "\r\n";
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

void say(const char* text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(strlen(text)), &written,
            nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string log = variable("QLX_JVM_LOG");
  std::string line = "java";
  std::string output;
  static const char kOutput[] = "-XX:SharedArchiveFile=";
  for (int i = 1; i < argc; ++i) {
    line += (i == 1 ? " " : "|") + std::string(argv[i]);
    if (strncmp(argv[i], kOutput, sizeof kOutput - 1) == 0) output = argv[i] + sizeof kOutput - 1;
  }
  append(log, line);
  for (const char* name : {"JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS", "JDK_JAVA_OPTIONS"}) {
    append(log, std::string("java env ") + name +
                    (isSet(name) ? "=" + variable(name) : std::string(" unset")));
  }
  say("assembling\r\n");
  if (isSet("QLX_JAVA_SLEEP")) Sleep(static_cast<DWORD>(atoi(variable("QLX_JAVA_SLEEP").c_str())));
  if (isSet("QLX_JAVA_FAIL")) {
    say("Error: the stand-in assembly fails as asked\r\n");
    append(log, "java failed");
    return 1;
  }
  if (output.empty()) return 2;
  // A static archive's magic 0xf00baba2 and a format, little-endian.
  std::string bytes(4096, '\0');
  const unsigned char head[] = {0xa2, 0xab, 0x0b, 0xf0, 0, 0, 0, 0, 0x13, 0, 0, 0};
  bytes.replace(0, sizeof head, reinterpret_cast<const char*>(head), sizeof head);
  HANDLE file = CreateFileA(output.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  append(log, "java wrote " + output);
  return 0;
}
