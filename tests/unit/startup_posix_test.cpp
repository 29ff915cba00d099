// Linux start-up steps: full path names without touching the file system,
// the single-instance lock and the raw command line.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "launcher/startup.h"

namespace qlx {
namespace {

struct PathCase {
  const char* candidate;
  const char* expected;
};

TEST(FullPathName, NormalisesAbsolutePaths) {
  const PathCase cases[] = {
      {"/", "/"},
      {"/a/b", "/a/b"},
      {"/a/./b", "/a/b"},
      {"/a//b///c", "/a/b/c"},
      {"/a/b/../c", "/a/c"},
      {"/a/b/../../..", "/"},
      {"/../x", "/x"},
      {"/a/b/", "/a/b/"},          // a trailing separator stays
      {"/a/b/.", "/a/b"},
      {"/no/such/dir/at/all", "/no/such/dir/at/all"},  // existence is not required
      {"/a/b\\c", "/a/b\\c"},      // a backslash is an ordinary character here
  };
  for (const auto& c : cases) {
    EXPECT_EQ(fullPathName(c.candidate), c.expected) << c.candidate;
  }
}

TEST(FullPathName, ResolvesRelativePathsAgainstTheCurrentDirectory) {
  char cwd[PATH_MAX];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  std::string base = cwd;
  if (base != "/") base += "/";
  EXPECT_EQ(fullPathName("x/y"), base + "x/y");
  EXPECT_EQ(fullPathName("./x/../y"), base + "y");
}

TEST(FullPathName, RejectsEmptyAndOverlongResults) {
  EXPECT_EQ(fullPathName(""), "");
  EXPECT_EQ(fullPathName("/" + std::string(PATH_MAX, 'a')), "");
  // Long input that collapses into a short result is fine.
  std::string longButShort = "/" + std::string(PATH_MAX, 'a') + "/..";
  EXPECT_EQ(fullPathName(longButShort), "/");
}

// The lock files of these tests go to a runtime directory of their own;
// the launcher itself leaves its (empty) lock files behind, since removing
// one could race with another start.
class SingleInstance : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qlx-unit-runtime-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    runtime_ = pattern;
    setenv("XDG_RUNTIME_DIR", pattern, 1);
  }
  void TearDown() override {
    unsetenv("XDG_RUNTIME_DIR");
    (void)!system(("rm -rf " + runtime_).c_str());
  }
  std::string runtime_;
};

std::string uniqueName(const char* tag) {
  return std::string("unit-test/") + tag + "/" + std::to_string(getpid()) + ".qlx.mutex";
}

TEST_F(SingleInstance, SecondHolderIsRefusedUntilTheFirstEnds) {
  const std::string name = uniqueName("held");
  // The lock belongs to the open file, so a child holding it blocks this
  // process exactly as another instance would.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char ok = acquireSingleInstance(name) ? '1' : '0';
    (void)!write(ready[1], &ok, 1);
    pause();  // killed by the parent
    _exit(0);
  }
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  EXPECT_EQ(ok, '1');
  EXPECT_FALSE(acquireSingleInstance(name));
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  // The kernel drops the lock with the process, however it ended.
  EXPECT_TRUE(acquireSingleInstance(name));
  close(ready[0]);
  close(ready[1]);
}

// Runs `body` in a child process and returns its exit status.
template <typename Body>
int inChild(Body body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

TEST_F(SingleInstance, LockIsPrivateToItsUser) {
  const std::string name = uniqueName("users");
  // Created under a lax umask, the file is still for its user alone.
  EXPECT_EQ(inChild([&] {
              umask(0);
              return acquireSingleInstance(name) ? 0 : 1;
            }),
            0);
  struct stat st;
  std::string file =
      runtime_ + "/qlx-unit-test%2Fusers%2F" + std::to_string(getpid()) + ".qlx.mutex";
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_TRUE(acquireSingleInstance(name));  // held by this process from here on
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  // Another user can neither reach this lock nor is refused by it: the
  // runtime directory is not theirs, so their lock lives elsewhere.
  EXPECT_EQ(inChild([&] {
              if (setgid(65534) != 0 || setuid(65534) != 0) return 2;
              if (open(file.c_str(), O_RDONLY) >= 0) return 3;
              return acquireSingleInstance(name) ? 0 : 1;
            }),
            0);
}

TEST_F(SingleInstance, DistinctNamesDoNotMeet) {
  // "a/b" and "a%2Fb" must not map onto the same lock file.
  std::string base = uniqueName("distinct");
  EXPECT_TRUE(acquireSingleInstance(base + "a/b"));
  EXPECT_TRUE(acquireSingleInstance(base + "a%2Fb"));
  // Names longer than a file name are hashed, and still kept apart.
  std::string longName(600, 'n');
  EXPECT_TRUE(acquireSingleInstance(base + longName + "1"));
  EXPECT_TRUE(acquireSingleInstance(base + longName + "2"));
  EXPECT_FALSE(acquireSingleInstance(base + longName + "1"));
}

TEST(RawCommandLine, JoinsTheArgumentVector) {
  char a0[] = "/opt/my app/tool", a1[] = "plain", a2[] = "with space", a3[] = "";
  char* argv[] = {a0, a1, a2, a3, nullptr};
  EXPECT_EQ(rawCommandLine(4, argv), "\"/opt/my app/tool\" plain \"with space\" \"\"");
  EXPECT_EQ(rawCommandLine(0, argv), "");
}

}  // namespace
}  // namespace qlx
