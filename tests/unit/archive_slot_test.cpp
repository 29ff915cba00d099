// The archive length slot of an image that no generator has filled, and
// its debug dump.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "launcher/launcher_context.h"

namespace qlx {
namespace {

TEST(ArchiveSlotTest, UnfilledSlotReadsZeroAndDumpsOnlyWhenAsked) {
  unsetenv("_BROVANE_BINARY_DEBUG_");
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(archiveLengthFromSlot(), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");

  setenv("_BROVANE_BINARY_DEBUG_", "", 1);  // any value, the empty one included
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(archiveLengthFromSlot(), 0);
  // Eight zero bytes of length, the marker and its NUL, control bytes as '.'.
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "........qlx:arclen:v1.\n");
  unsetenv("_BROVANE_BINARY_DEBUG_");
}

}  // namespace
}  // namespace qlx
