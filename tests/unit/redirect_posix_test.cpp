// Linux redirection of the standard streams. Every case runs in a child
// process, because redirection changes descriptors 1 and 2 for good.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "redirect/log_open.h"
#include "redirect/redirect.h"

namespace qlx {
namespace {

class RedirectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qlx-redirect-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::string command = "rm -rf '" + dir_ + "'";
    (void)!system(command.c_str());
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  static std::string read(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  // Runs `body` in a child that ends through exit() (so the redirector's
  // restore runs); returns the child's exit status.
  template <typename Body>
  static int inChild(Body body) {
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    if (pid == 0) {
      body();
      exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  std::string dir_;
};

TEST_F(RedirectTest, FileTargetsAreAppended) {
  std::string log = path("err.log");
  { std::ofstream(log) << "before\n"; }
  EXPECT_EQ(inChild([&] {
              redirectStderr(log);
              fprintf(stderr, "one\n");
              (void)!write(2, "two\n", 4);  // the descriptor itself moved, not only the FILE
            }),
            0);
  EXPECT_EQ(read(log), "before\none\ntwo\n");
  struct stat st;
  ASSERT_EQ(stat(log.c_str(), &st), 0);
}

TEST_F(RedirectTest, NewFilesAreCreatedWith0644) {
  std::string log = path("new.log");
  EXPECT_EQ(inChild([&] {
              umask(0);
              redirectStdout(log);
              printf("x\n");
            }),
            0);
  struct stat st;
  ASSERT_EQ(stat(log.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_EQ(read(log), "x\n");
}

TEST_F(RedirectTest, SameTextSharesOneTargetAndKeepsOrder) {
  std::string log = path("both.log");
  EXPECT_EQ(inChild([&] {
              redirectStdout(log);
              redirectStderr(log);
              printf("1\n");
              fprintf(stderr, "2\n");
              printf("3\n");
            }),
            0);
  // File targets are unbuffered, so the order of writes is kept.
  EXPECT_EQ(read(log), "1\n2\n3\n");
}

TEST_F(RedirectTest, NamesThatDifferInCaseAreTwoTargets) {
  std::string lower = path("out.log"), upper = path("OUT.LOG");
  EXPECT_EQ(inChild([&] {
              redirectStdout(lower);
              redirectStderr(upper);
              printf("o\n");
              fprintf(stderr, "e\n");
            }),
            0);
  EXPECT_EQ(read(lower), "o\n");
  EXPECT_EQ(read(upper), "e\n");
}

// What a log path can turn out to be: a missing folder is made; anything
// that still cannot be opened, or must not be, leaves the stream where it
// was and says why. Links and files of another user need root to make.
TEST_F(RedirectTest, LogPathsThatAreRefusedLeaveTheStreamAlone) {
  const bool root = geteuid() == 0;
  { std::ofstream(path("plain")) << ""; }
  { std::ofstream(path("target")) << ""; }
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
  ASSERT_EQ(symlink(path("target").c_str(), path("own-link").c_str()), 0);
  ASSERT_EQ(symlink(path("target").c_str(), path("their-link").c_str()), 0);
  { std::ofstream(path("theirs")) << ""; }
  if (root) {
    ASSERT_EQ(lchown(path("their-link").c_str(), 65534, 65534), 0);
    ASSERT_EQ(chown(path("theirs").c_str(), 65534, 65534), 0);
  }
  struct Case {
    const char* name;
    const char* written;  // the file that receives the output; empty: none
    const char* problem;
    bool needsRoot;
  };
  const Case cases[] = {
      {"missing/folders/out.log", "missing/folders/out.log", "", false},
      {"plain/out.log", "", "Not a directory", false},
      {"fifo", "", "it is a pipe that nothing reads", false},
      {"own-link", "target", "", false},
      {"their-link", "", "it is a symbolic link that belongs to another user", true},
      {"theirs", "", "it belongs to another user", true},
  };
  for (const Case& c : cases) {
    if (c.needsRoot && !root) continue;
    SCOPED_TRACE(c.name);
    const std::string fallback = path("console.log"), said = path("said.txt");
    std::remove(fallback.c_str());
    EXPECT_EQ(inChild([&] {
                int fd = open(fallback.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
                dup2(fd, 1);
                close(fd);
                std::ofstream(said) << redirectStdout(path(c.name));
                printf("output\n");
              }),
              0);
    EXPECT_EQ(read(said), c.problem);
    EXPECT_EQ(read(fallback), *c.written ? "" : "output\n");
    if (*c.written) EXPECT_EQ(read(path(c.written)), "output\n");
  }
  // A rotated log's name is renamed and made again: no link is followed.
  OpenedLog opened = openLogForAppend(path("own-link"), FinalLink::Refuse);
  EXPECT_EQ(opened.handle, -1);
  EXPECT_EQ(opened.problem, "it is a symbolic link");
}

// The line that says a log cannot be opened lands where the stream stayed,
// else on standard error, else in the file beside the program.
TEST_F(RedirectTest, ALogThatCannotBeOpenedIsSaidWhereItWillBeSeen) {
  struct Case {
    bool outputOpen, errorOpen, aboutOutput;
    const char* where;
  };
  const Case cases[] = {
      {true, true, true, "out"},   {true, true, false, "err"},  {false, true, true, "err"},
      {false, false, true, "fallback"}, {true, false, false, "fallback"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.where);
    for (const char* name : {"out", "err", "fallback"}) std::remove(path(name).c_str());
    EXPECT_EQ(inChild([&] {
                for (int fd : {1, 2}) {
                  if (!(fd == 1 ? c.outputOpen : c.errorOpen)) {
                    close(fd);
                    continue;
                  }
                  int file = open(path(fd == 1 ? "out" : "err").c_str(),
                                  O_WRONLY | O_CREAT | O_APPEND, 0644);
                  dup2(file, fd);
                  close(file);
                }
                sayLogNotOpened(c.aboutOutput, "the line", path("fallback"));
              }),
              0);
    for (const char* name : {"out", "err", "fallback"}) {
      EXPECT_EQ(read(path(name)), std::string(name) == c.where ? "the line\n" : "") << name;
    }
  }
}

TEST_F(RedirectTest, ClosedStandardDescriptorsAreNotReusedForTargets) {
  std::string out = path("out.log"), err = path("err.log");
  EXPECT_EQ(inChild([&] {
              close(2);
              // Registered before the redirector exists, so it runs after the
              // restore: standard error is closed again by then, as it was.
              atexit([] { (void)!write(2, "late\n", 5); });
              redirectStdout(out);  // open() would hand out descriptor 2 here
              redirectStderr(err);
              printf("o\n");
              fprintf(stderr, "e\n");
            }),
            0);
  EXPECT_EQ(read(out), "o\n");
  EXPECT_EQ(read(err), "e\n");
}

TEST_F(RedirectTest, SecondRedirectionOfAStreamIsIgnored) {
  std::string first = path("first.log"), second = path("second.log");
  EXPECT_EQ(inChild([&] {
              redirectStdout(first);
              redirectStdout(second);
              printf("x\n");
            }),
            0);
  EXPECT_EQ(read(first), "x\n");
}

TEST_F(RedirectTest, StreamsAreRestoredAtExit) {
  std::string original = path("original.log"), target = path("target.log");
  EXPECT_EQ(inChild([&] {
              int fd = open(original.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
              dup2(fd, 1);
              close(fd);
              redirectStdout(target);
              printf("redirected\n");
              // Registered after the redirector was built, so it runs first:
              // it must still see the redirection.
              atexit([] { printf("at exit\n"); });
            }),
            0);
  EXPECT_EQ(read(target), "redirected\nat exit\n");
  EXPECT_EQ(read(original), "");
}

TEST_F(RedirectTest, PipeTargetFeedsTheCommand) {
  std::string out = path("piped.txt");
  EXPECT_EQ(inChild([&] {
              redirectStdout("|cat > '" + out + "'; echo noise; echo noise >&2");
              printf("through the pipe\n");
            }),
            0);
  // The reader sees the end of its input when the child has exited.
  std::string text;
  for (int i = 0; i < 200 && text.empty(); ++i) {
    usleep(10000);
    text = read(out);
  }
  EXPECT_EQ(text, "through the pipe\n");
}

TEST_F(RedirectTest, ReaderThatEndsEarlyDoesNotKillTheWriter) {
  EXPECT_EQ(inChild([&] {
              redirectStdout("|true");
              usleep(200000);  // the reader is gone
              for (int i = 0; i < 10000; ++i) printf("0123456789abcdef\n");
              fflush(stdout);
              exit(7);
            }),
            7);
}

TEST_F(RedirectTest, WriteHandleByteWritesTheLowByteOnly) {
  std::string file = path("bytes.bin");
  int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  writeHandleByte(fd, 'A');
  writeHandleByte(fd, static_cast<uint8_t>(0x1C3));
  writeHandleByte(0, 'x');     // no handle
  writeHandleByte(-5, 'x');    // never a descriptor
  writeHandleByte(static_cast<intptr_t>(1) << 40, 'x');
  close(fd);
  EXPECT_EQ(read(file), std::string("A\xC3"));
}

}  // namespace
}  // namespace qlx
