// The start-up sequence's pure rules: where `forcecwd` points and how the
// single-instance mutex is named.
#include <gtest/gtest.h>

#include "launcher/startup.h"

namespace qlx {
namespace {

struct CandidateCase {
  const char* base;
  const char* path;
  const char* expected;
};

TEST(WorkingDirectoryCandidate, FollowsThePathRule) {
  const CandidateCase cases[] = {
      // Absolute paths are used unchanged.
      {"C:\\apps\\", "C:\\work", "C:\\work"},
      {"C:\\apps\\", "/work", "/work"},
      {"C:\\apps\\", "d:", "d:"},
      {"D:\\apps\\", "x:relative", "x:relative"},
      // Relative paths hang off the application home.
      {"C:\\apps\\", ".", "C:\\apps\\."},
      {"C:\\apps\\", "data", "C:\\apps\\data"},
      {"C:\\apps\\", "..\\up", "C:\\apps\\..\\up"},
      {"C:\\apps", "data", "C:\\apps/data"},
      {"/opt/app/", "data", "/opt/app/data"},
      {"C:\\apps\\", "", "C:\\apps\\"},
      // A path from the root takes the drive of the application home.
      {"D:\\tools\\bin\\", "\\data", "D:\\data"},
      {"D:\\tools\\bin\\", "\\", "D:\\"},
      // ... and stays as it is when the home has no drive letter.
      {"\\\\server\\share\\", "\\data", "\\data"},
      {"/opt/app/", "\\data", "\\data"},
      {"ab:\\x\\", "\\data", "\\data"},
      // No home to resolve against: the path stays relative to the
      // current directory instead of turning into a root path.
      {"", "data", "data"},
      {"", "", ""},
  };
  for (const CandidateCase& c : cases) {
    EXPECT_EQ(workingDirectoryCandidate(c.base, c.path), c.expected)
        << "base=" << c.base << " path=" << c.path;
  }
}

TEST(SingleInstanceMutexName, UsesTheAppidOrElseThePath) {
  struct Case {
    const char* appid;
    const char* path;
    const char* expected;
  } cases[] = {
      {"", "C:\\x\\a.exe", "C..x.a.exe.qlx.mutex"},
      {"My\\App", "C:\\x\\a.exe", "My.App.qlx.mutex"},
      {"a:b\\c:d", "C:\\ignored.exe", "a.b.c.d.qlx.mutex"},
      {"plain", "", "plain.qlx.mutex"},
      {"", "/opt/app/tool", "/opt/app/tool.qlx.mutex"},
      {"with space/slash", "", "with space/slash.qlx.mutex"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(singleInstanceMutexName(c.appid, c.path), c.expected) << c.appid << " " << c.path;
  }
}

}  // namespace
}  // namespace qlx
