// How a service ends, as the status record tells the manager, and the
// argument lists of main (no VM: the paths that call Java are proven on the
// real JVM in tests/jni, the rest under Wine's manager).
#include "service/service_bridge.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qlx {
namespace {

struct Recorder : StatusReporter {
  std::vector<ServiceStatusRecord> sent;
  void report(const ServiceStatusRecord& record) override { sent.push_back(record); }
};

void noThread() { FAIL() << "no VM: no stop thread may start"; }

TEST(ServiceBridge, HowTheServiceEnds) {
  struct Row {
    const char* what;
    int launchResult;  // -1: the process ends inside the VM instead
    bool codeKnown;
    int exitCode;
    uint32_t win32, specific;
    bool reported;
  } rows[] = {
      {"main returned", 0, false, 0, 0, 0, true},
      {"launch failed", 7, false, 0, kErrorServiceSpecific, 7, true},
      {"System.exit(3)", -1, true, 3, kErrorServiceSpecific, 3, true},
      {"System.exit(0)", -1, true, 0, 0, 0, true},
      {"exit without a code", -1, false, 5, 0, 0, false},  // the manager sees the process die
  };
  for (const Row& row : rows) {
    ServiceBridge bridge;
    Recorder recorder;
    bridge.setReporter(&recorder);
    if (row.launchResult >= 0) {
      bridge.reportFinished(row.launchResult);
    } else {
      bridge.processEnding(row.codeKnown, row.exitCode);
    }
    if (row.reported) bridge.processEnding(true, 9);  // once stopped, nothing more is sent
    ASSERT_EQ(recorder.sent.size(), row.reported ? 1u : 0u) << row.what;
    if (!row.reported) continue;
    const ServiceStatusRecord& last = recorder.sent.back();
    EXPECT_EQ(last.state, kServiceStopped) << row.what;
    EXPECT_EQ(last.controlsAccepted, 0u) << row.what;
    EXPECT_EQ(last.win32ExitCode, row.win32) << row.what;
    EXPECT_EQ(last.serviceExitCode, row.specific) << row.what;
  }
}

TEST(ServiceBridge, StopWithoutVm) {
  ServiceBridge bridge;
  Recorder recorder;
  bridge.setReporter(&recorder);
  EXPECT_TRUE(bridge.advanceStop(1000));  // no stop yet: the watch waits and sends nothing
  EXPECT_TRUE(recorder.sent.empty());
  bridge.control(kControlStop, nullptr, noThread);
  // Pending, then stopped: there is no application to tell.
  ASSERT_EQ(recorder.sent.size(), 2u);
  EXPECT_EQ(recorder.sent[1].state, kServiceStopped);
  EXPECT_EQ(recorder.sent[0].checkPoint, 1u);
  EXPECT_EQ(recorder.sent[0].waitHint, kStopWaitHintMs);
  EXPECT_EQ(recorder.sent[0].controlsAccepted, 0u);
  EXPECT_FALSE(bridge.advanceStop(2000));
  bridge.statusFromJava(4);
  bridge.reportRunningIfSilent();
  EXPECT_EQ(recorder.sent.size(), 2u);
}

TEST(ServiceBridge, MainArgumentLists) {
  const StringList commandLine{"x"}, parameters{"a", "b"};
  struct Row {
    const char* mainargv;
    StringList first, second;
  } rows[] = {{"cs", {"x"}, {"a", "b"}}, {"", {"x"}, {"a", "b"}}, {"SC", {"a", "b"}, {"x"}},
              {"c", {"x"}, {}},          {"s", {"a", "b"}, {}},   {"sx", {"x"}, {"a", "b"}}};
  for (const Row& row : rows) {
    StringList first{"stale"}, second{"stale"};
    chooseServiceArguments(row.mainargv, commandLine, parameters, first, second);
    EXPECT_EQ(first, row.first) << row.mainargv;
    EXPECT_EQ(second, row.second) << row.mainargv;
  }
}

}  // namespace
}  // namespace qlx
