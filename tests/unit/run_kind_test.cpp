// What a command line makes of a run, decided before the start-up touches
// logs, instances or a running instance: by the same first-command rule as
// the service command line itself.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/service_command_line.h"

namespace qlx {
namespace {

TEST(RunKind, FirstCommandDecidesWhatTheStartUpApplies) {
  struct Case {
    std::vector<std::string> args;
    RunKind kind;
  } cases[] = {
      {{}, RunKind::Application},
      {{"plain", "/staus"}, RunKind::Application},  // unknown switches: the dispatcher decides
      {{"/test", "/status"}, RunKind::Application},
      {{"/testing"}, RunKind::Application},
      {{"/interactive", "x"}, RunKind::Application},
      {{"/install", "/account:bob", "/password:S3cret"}, RunKind::Command},
      {{"a", "-INST"}, RunKind::Command},
      {{"/uninstall", "/test"}, RunKind::Command},
      {{"/?"}, RunKind::Command},
      {{"/hello"}, RunKind::Command},  // /h with a value text
      {{"/status"}, RunKind::ServiceCommand},
      {{"-STOP"}, RunKind::ServiceCommand},
      {{"/start", "p1", "/install"}, RunKind::ServiceCommand},
      {{"/restart"}, RunKind::ServiceCommand},
      {{"/pause"}, RunKind::ServiceCommand},
      {{"/continue"}, RunKind::ServiceCommand},
      {{"/account:x", "/stop"}, RunKind::ServiceCommand},
  };
  for (const Case& c : cases) {
    std::vector<std::string> strings = c.args;
    std::vector<char*> argv;
    for (std::string& s : strings) argv.push_back(&s[0]);
    argv.push_back(nullptr);
    std::string label;
    for (const std::string& a : c.args) label += "[" + a + "]";
    EXPECT_EQ(runKindOf(static_cast<int>(strings.size()), argv.data()), c.kind) << label;
  }
}

}  // namespace
}  // namespace qlx
