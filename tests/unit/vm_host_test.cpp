// VmHost's text helpers and its library handling on this machine's loader.
#include "vm/vm_host.h"

#include <gtest/gtest.h>

#include "fake_os.h"

namespace qlx {
namespace {

TEST(RuntimeDirectoryOf, CutsTwoComponents) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\rt\\bin\\client\\jvm.dll", "C:\\rt\\bin"},
      {"C:\\jvm.dll", "C:"},
      {"jvm.dll", "jvm.dll"},
      {"C:\\rt/bin\\jvm.dll", "C:\\rt"},
      {"/usr/lib/jvm/jdk/lib/server/libjvm.so", "/usr/lib/jvm/jdk/lib"},
      {"/libjvm.so", ""},
      {"", ""},
  };
  for (const auto& [path, expected] : cases) EXPECT_EQ(runtimeDirectoryOf(path), expected) << path;
}

TEST(SubstituteInsert, EveryOccurrenceOnce) {
  struct Case {
    const char* text;
    const char* path;
    const char* expected;
  } cases[] = {
      {"%1 is not a valid Win32 application.\r\n", "C:\\x.dll",
       "C:\\x.dll is not a valid Win32 application.\r\n"},
      {"%1 and %1", "p", "p and p"},
      {"%%1", "p", "%p"},
      {"no insert", "p", "no insert"},
      {"%", "p", "%"},
      {"", "p", ""},
      {"%1", "%1%1", "%1%1"},  // the replacement is not scanned again
      {"%12", "p", "p2"},
  };
  for (const Case& c : cases) EXPECT_EQ(substituteInsert(c.text, c.path), c.expected) << c.text;
}

TEST(VmHost, OptionsKeepOrderAndText) {
  VmHost host;
  host.addOption("-Xmx256m");
  host.addOption("-Dx=1 with blanks");
  host.addOption("");
  ASSERT_EQ(host.options().size(), 3u);
  EXPECT_EQ(host.options()[0], "-Xmx256m");
  EXPECT_EQ(host.options()[1], "-Dx=1 with blanks");
  EXPECT_EQ(host.options()[2], "");
}

TEST(VmHost, ShutdownIsSafeWhenNothingWasCreated) {
  VmHost host;
  host.shutdownVm();
  host.shutdownVm();
  EXPECT_FALSE(host.libraryLoaded());
  EXPECT_EQ(host.javaVm(), nullptr);
}

TEST(VmHost, UnloadableLibraryGivesTwo) {
  testing::FakeOs os;
  VmHost host;
  host.addOption("-Xmx1m");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(host.createVm("/nonexistent/dir/libjvm.so", os), 2);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("/nonexistent/dir/libjvm.so"), std::string::npos) << err;
  EXPECT_FALSE(host.libraryLoaded());
}

TEST(VmHost, LibraryWithoutCreationEntryGivesTwoAndStaysLoaded) {
  testing::FakeOs os;
  VmHost host;
  host.addOption("-Xmx1m");
  EXPECT_EQ(host.createVm("libm.so.6", os), 2);
  EXPECT_TRUE(host.libraryLoaded());
  EXPECT_EQ(host.options().size(), 1u);  // no creation was attempted
  EXPECT_EQ(host.javaVm(), nullptr);
  host.shutdownVm();
  EXPECT_FALSE(host.libraryLoaded());
  host.shutdownVm();
}

}  // namespace
}  // namespace qlx
