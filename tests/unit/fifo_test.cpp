// The vector-backed queue keeps first-in first-out order across the points
// where it gives back the room before its head.
#include "launcher/fifo.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace qlx {
namespace {

TEST(Fifo, KeepsOrderAcrossCompaction) {
  struct Step {
    int push;  // how many to add
    int pop;   // then how many to take
  };
  const struct {
    const char* name;
    std::vector<Step> steps;
  } cases[] = {
      {"emptied each time", {{1, 1}, {3, 3}, {2, 2}}},
      {"never empty, compacted", {{20, 17}, {40, 30}, {5, 10}, {1, 9}}},
      {"one in one out", {{1, 0}, {1, 1}, {1, 1}, {1, 1}, {0, 1}}},
      {"long run drained", {{100, 99}, {0, 1}, {2, 1}}},
  };
  for (const auto& c : cases) {
    Fifo<std::unique_ptr<std::string>> queue;
    int next = 0, expected = 0;
    for (const Step& step : c.steps) {
      for (int i = 0; i < step.push; ++i) queue.push_back(std::make_unique<std::string>(std::to_string(next++)));
      for (int i = 0; i < step.pop; ++i) {
        ASSERT_FALSE(queue.empty()) << c.name;
        EXPECT_EQ(*queue.front(), std::to_string(expected++)) << c.name;
        queue.pop_front();
      }
      EXPECT_EQ(queue.size(), static_cast<size_t>(next - expected)) << c.name;
    }
    EXPECT_EQ(queue.empty(), next == expected) << c.name;
  }
}

}  // namespace
}  // namespace qlx
