// The Linux Os: case-insensitive environment like Windows, listings that
// behave like FindFirstFileA, readable tests, and an empty registry.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "launcher/launcher_context.h"
#include "launcher/os.h"

namespace qlx {
namespace {

namespace fs = std::filesystem;

TEST(PosixOsTest, EnvironmentIgnoresCase) {
  Os& os = systemOs();
  unsetenv("QLX_T_VAR");
  setenv("Qlx_T_Var", "mixed", 1);
  EXPECT_EQ(os.getEnv("QLX_T_VAR").value_or("none"), "mixed");
  setenv("QLX_T_VAR", "exact", 1);
  EXPECT_EQ(os.getEnv("QLX_T_VAR").value_or("none"), "exact");  // an exact match first
  os.setEnv("qlx_t_var=new");
  EXPECT_EQ(getenv("Qlx_T_Var"), nullptr);  // every spelling replaced
  EXPECT_EQ(getenv("QLX_T_VAR"), nullptr);
  EXPECT_STREQ(getenv("qlx_t_var"), "new");
  os.setEnv("QLX_T_VAR=");
  EXPECT_FALSE(os.getEnv("qlx_t_var").has_value());
  os.setEnv("no sign");
  os.setEnv("=x");
  EXPECT_FALSE(os.getEnv("").has_value());
  EXPECT_FALSE(os.getEnv("A=B").has_value());
}

class PosixFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("qlx-os-test-" + std::to_string(getpid()));
    fs::create_directories(dir / "sub");
    for (const char* name : {"a.jar", "b.jar", ".hidden.jar", "c.txt"}) {
      std::FILE* f = std::fopen((dir / name).c_str(), "w");
      ASSERT_NE(f, nullptr);
      std::fclose(f);
    }
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
};

TEST_F(PosixFilesTest, ListDirectoryMatchesLikeFindFirstFile) {
  std::vector<DirEntry> entries;
  ASSERT_TRUE(systemOs().listDirectory((dir / "*").string(), entries));
  std::vector<std::string> names;
  for (auto& e : entries) names.push_back(e.name + (e.isDirectory ? "/" : ""));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"../", "./", ".hidden.jar", "a.jar", "b.jar",
                                             "c.txt", "sub/"}));
  entries.clear();
  ASSERT_TRUE(systemOs().listDirectory((dir / "?.jar").string(), entries));
  EXPECT_EQ(entries.size(), 2u);
  entries.clear();
  EXPECT_FALSE(systemOs().listDirectory((dir / "*.none").string(), entries));
  EXPECT_FALSE(systemOs().listDirectory((dir / "missing" / "*").string(), entries));
  EXPECT_TRUE(entries.empty());
}

TEST_F(PosixFilesTest, ReadableAndExisting) {
  EXPECT_TRUE(systemOs().isReadable((dir / "a.jar").string()));
  EXPECT_TRUE(systemOs().isReadable((dir / "sub").string()));
  EXPECT_TRUE(systemOs().exists((dir / "sub").string()));
  EXPECT_FALSE(systemOs().exists((dir / "missing").string()));
  RegistryData data;
  EXPECT_FALSE(systemOs().readRegistry(RegistryRoot::LocalMachine, "Software", "", data));
}

TEST_F(PosixFilesTest, ConfigFilesAreRegularFilesOnly) {
  std::string content = "old";
  EXPECT_FALSE(readConfigFile((dir / "sub").string(), content));
  EXPECT_FALSE(readConfigFile((dir / "missing").string(), content));
  std::FILE* f = std::fopen((dir / "x.cfg").c_str(), "wb");
  std::fwrite("a\0b", 1, 3, f);
  std::fclose(f);
  ASSERT_TRUE(readConfigFile((dir / "x.cfg").string(), content));
  EXPECT_EQ(content, std::string("a\0b", 3));
}

TEST(PosixContextTest, CurrentDirectoryEndsInASeparator) {
  const std::string cwd = currentDirectory();
  ASSERT_FALSE(cwd.empty());
  EXPECT_EQ(cwd.back(), '/');
  EXPECT_FALSE(executablePath().empty());
}

}  // namespace
}  // namespace qlx
