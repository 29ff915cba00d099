// Helpers shared by the fuzz targets: a context over arbitrary text and a
// fake Os with a little of everything, so that expansion reaches every path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "launcher/launcher_context.h"
#include "tests/unit/fake_os.h"

namespace qlx::fuzz {

inline LauncherContext contextOver(const uint8_t* data, size_t size) {
  LauncherContext context;
  context.configText.assign(reinterpret_cast<const char*>(data), size);
  // The first byte picks where the external part ends, past the end included.
  context.externalLength = size > 0 ? data[0] % (size + 2) : 0;
  context.applicationPath = "C:\\apps\\tool.exe";
  context.applicationHome = "C:\\apps\\";
  context.startDirectory = "C:\\work\\";
  return context;
}

inline void populate(testing::FakeOs& os) {
  os.withEnv("PATH", "/bin;%PATH%$PATH")
      .withEnv("HOMEDRIVE", "C:")
      .withEnv("HOMEPATH", "\\Users\\me")
      .withEnv("HIGH", "caf\xE9")
      .withDir("C:\\apps\\lib")
      .withFile("C:\\apps\\lib\\a.jar")
      .withDir("C:\\apps\\lib\\sub")
      .withFile("C:\\apps\\lib\\sub\\b.jar")
      .withRegistry(RegistryRoot::LocalMachine, "S", "Sz", 1, std::string("text\0x", 6))
      .withRegistry(RegistryRoot::LocalMachine, "S", "Self", 2, "${HKLM\\S\\Self}%HKLM\\S\\Self%")
      .withRegistry(RegistryRoot::LocalMachine, "S", "Fan", 2,
                    "${HKLM\\S\\Fan}${HKLM\\S\\Fan}${HKLM\\S\\Fan}${HKLM\\S\\Fan}")
      .withRegistry(RegistryRoot::LocalMachine, "S", "Dw", 4, "\xff\xff")
      .withRegistry(RegistryRoot::LocalMachine, "S", "Be", 5, "\x01\x02\x03\x04\x05")
      .withRegistry(RegistryRoot::CurrentUser, "S", "", 7, std::string("\0\0", 2));
}

}  // namespace qlx::fuzz
