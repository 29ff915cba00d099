// Entry of the JNI tests: the user's locale, as the launcher selects it, and
// death tests that re-execute this binary so every child starts without a VM.
#include <gtest/gtest.h>

#include <clocale>

#include "jvm_fixture.h"

namespace {

// The VM must end before the process's static destructors run: they would
// tear down the VM library's globals under its still-running threads.
class SharedVmShutdown : public ::testing::Environment {
 public:
  void TearDown() override { qlx::jnitest::shutdownSharedVm(); }
};

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  ::testing::InitGoogleTest(&argc, argv);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ::testing::AddGlobalTestEnvironment(new SharedVmShutdown);
  return RUN_ALL_TESTS();
}
