// How a service ends, as the status record tells the manager, and the
// argument lists of main (no VM: the paths that call Java are proven on the
// real JVM in tests/jni, the rest under Wine's manager).
#include "service/service_bridge.h"
#include "service/stop_timeout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qlx {
namespace {

struct Recorder : StatusReporter {
  std::vector<ServiceStatusRecord> sent;
  void report(const ServiceStatusRecord& record) override { sent.push_back(record); }
};

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
      // The code was not seen (a library other than the VM called exit):
      // never left "running" with a dead process, and told as aborted.
      {"exit without a code", -1, false, 5, kErrorProcessAborted, 0, true},
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

// Every way the manager can stop the service begins the same stop at once,
// without Java on the dispatcher thread; the bound ends it.
TEST(ServiceBridge, StopControlsBeginOneBoundedStop) {
  struct Row {
    const char* what;
    uint32_t control;
    uint32_t timeoutSeconds;
  } rows[] = {{"stop", kControlStop, 20},
              {"shutdown", kControlShutdown, 3},
              {"preshutdown", kControlPreshutdown, 90}};
  for (const Row& row : rows) {
    ServiceBridge bridge;
    Recorder recorder;
    bridge.setReporter(&recorder);
    bridge.setStopTimeout(row.timeoutSeconds);
    EXPECT_EQ(bridge.advanceStop(1000), ServiceBridge::StopProgress::Waiting) << row.what;
    EXPECT_TRUE(recorder.sent.empty()) << row.what;  // no stop yet: nothing to tell

    EXPECT_EQ(bridge.control(row.control), ServiceBridge::FollowUp::BeginStop) << row.what;
    ASSERT_EQ(recorder.sent.size(), 1u) << row.what;
    const ServiceStatusRecord pending = recorder.sent[0];
    EXPECT_EQ(pending.state, kServiceStopPending) << row.what;
    EXPECT_EQ(pending.controlsAccepted, 0u) << row.what;
    EXPECT_EQ(pending.checkPoint, 1u) << row.what;
    EXPECT_EQ(pending.waitHint, row.timeoutSeconds * 1000) << row.what;

    // Later controls, a second stop included, only learn the progress.
    for (uint32_t control : {kControlStop, kControlPause, kControlInterrogate, kControlShutdown}) {
      EXPECT_EQ(bridge.control(control), ServiceBridge::FollowUp::None) << row.what;
      EXPECT_EQ(recorder.sent.back().state, kServiceStopPending) << row.what;
    }
    bridge.statusFromJava(kServiceRunning);  // a late report does not undo the stop
    EXPECT_EQ(recorder.sent.back().state, kServiceStopPending) << row.what;

    const uint32_t boundMs = row.timeoutSeconds * 1000;
    EXPECT_EQ(bridge.advanceStop(boundMs - 1000), ServiceBridge::StopProgress::Waiting);
    EXPECT_EQ(recorder.sent.back().checkPoint, 2u) << row.what;
    EXPECT_EQ(bridge.advanceStop(boundMs), ServiceBridge::StopProgress::Expired) << row.what;
    EXPECT_EQ(recorder.sent.back().state, kServiceStopPending) << row.what;  // not before the end
    bridge.reportForcedStop();
    EXPECT_EQ(recorder.sent.back().state, kServiceStopped) << row.what;
    EXPECT_EQ(recorder.sent.back().win32ExitCode, 0u) << row.what;
    EXPECT_EQ(bridge.advanceStop(boundMs + 1000), ServiceBridge::StopProgress::Over);
    const size_t sent = recorder.sent.size();
    bridge.reportForcedStop();
    bridge.processEnding(true, 0);
    EXPECT_EQ(recorder.sent.size(), sent) << row.what;
  }
  EXPECT_EQ(stopOverrunLine(3), "The service stop took longer than 3 s; the process is ended.");
}

// The launcher's own lines about a run, as the error log gets them: the
// stop asked for, how long it took, and one line with how the service
// ended, whatever way it ended.
struct LogRecorder : ServiceLogWriter {
  std::vector<std::string> lines;
  void write(const std::string& line) override { lines.push_back(line); }
};

uint64_t gFakeNow = 0;
uint64_t fakeNow() { return gFakeNow; }

TEST(ServiceBridge, LogLinesTellHowEachRunEnded) {
  enum class End { MainReturned, LaunchFailed, Exit, StopThenExit, ShutdownThenExit, StopAtBound,
                   UnknownCode };
  struct Row {
    const char* what;
    End end;
    int code;
    std::vector<std::string> lines;
  } rows[] = {
      {"main returned", End::MainReturned, 0, {"Service 'Tick' ended, exit code 0."}},
      {"launch failed", End::LaunchFailed, 7, {"Service 'Tick' ended, exit code 7."}},
      {"System.exit(3)", End::Exit, 3, {"Service 'Tick' ended, exit code 3."}},
      {"stop", End::StopThenExit, 0,
       {"Service 'Tick' stop requested (stop).", "Service 'Tick' stop finished in 1.5 s.",
        "Service 'Tick' ended, exit code 0."}},
      {"shutdown, the application exiting with 4 meanwhile", End::ShutdownThenExit, 4,
       {"Service 'Tick' stop requested (shutdown).",
        "Service 'Tick' stop finished in 1.5 s.", "Service 'Tick' ended, exit code 0."}},
      {"stop at the bound", End::StopAtBound, 0,
       {"Service 'Tick' stop requested (stop).", "Service 'Tick' ended, exit code 0."}},
      {"unknown code", End::UnknownCode, 0, {"Service 'Tick' ended, exit code unknown."}},
  };
  for (const Row& row : rows) {
    ServiceBridge bridge;
    Recorder recorder;
    LogRecorder log;
    gFakeNow = 10000;
    bridge.setClock(fakeNow);
    bridge.setReporter(&recorder);
    bridge.setLog("Tick", &log);
    switch (row.end) {
      case End::MainReturned: bridge.reportFinished(0); break;
      case End::LaunchFailed: bridge.reportFinished(row.code); break;
      case End::Exit: bridge.processEnding(true, row.code); break;
      case End::StopThenExit:
      case End::ShutdownThenExit:
        bridge.control(row.end == End::StopThenExit ? kControlStop : kControlShutdown);
        gFakeNow += 1460;
        bridge.processEnding(true, row.code);
        break;
      case End::StopAtBound:
        bridge.control(kControlStop);
        bridge.reportForcedStop();
        break;
      case End::UnknownCode: bridge.processEnding(false, 0); break;
    }
    bridge.reportFinished(0);  // the service main's end finds nothing left to say
    bridge.processEnding(false, 0);
    EXPECT_EQ(log.lines, row.lines) << row.what;
  }
}

TEST(ServiceBridge, LogStampIsTheLocalTimeToTheSecond) {
  LogStamp stamp;
  putLogStamp(stamp, 2024, 5, 1, 9, 3, 7);
  EXPECT_STREQ(stamp.text, "2024-05-01 09:03:07 qlx: ");
  putLogStamp(stamp, 1999, 12, 31, 23, 59, 58);
  EXPECT_STREQ(stamp.text, "1999-12-31 23:59:58 qlx: ");
}

// Without a handler pause and continue are obeyed at once; the accepted
// controls always include shutdown and preshutdown.
TEST(ServiceBridge, PauseAndContinueWithoutHandler) {
  ServiceBridge bridge;
  Recorder recorder;
  bridge.setReporter(&recorder);
  struct Row {
    uint32_t control;
    uint32_t state;
  } rows[] = {{kControlPause, kServicePaused},
              {kControlInterrogate, kServicePaused},
              {kControlContinue, kServiceRunning},
              {kControlContinue, kServiceRunning}};
  for (const Row& row : rows) {
    EXPECT_EQ(bridge.control(row.control), ServiceBridge::FollowUp::None) << row.control;
    EXPECT_EQ(recorder.sent.back().state, row.state) << row.control;
    EXPECT_EQ(recorder.sent.back().controlsAccepted,
              kAcceptStop | kAcceptShutdown | kAcceptPreshutdown)
        << row.control;
  }
  bridge.handlerCallSlow(kControlPause);  // no call under way: nothing is pending
  EXPECT_EQ(recorder.sent.back().state, kServiceRunning);

  // After a pause the fallback's three seconds no longer report running.
  ServiceBridge early;
  early.setReporter(&recorder);
  early.control(kControlPause);
  early.reportRunningIfSilent();
  EXPECT_EQ(recorder.sent.back().state, kServicePaused);
}

TEST(ServiceBridge, StopTimeoutIsWholeSecondsWithDefault20) {
  struct Row {
    const char* text;
    uint32_t seconds;
  } rows[] = {{"", 20},     {"3", 3},      {" 45 ", 45},   {"3600", 3600}, {"3601", 20},
              {"0", 20},    {"-5", 20},    {"2.5", 20},    {"10s", 20},    {"0x10", 20},
              {"007", 7},   {"99999999999999999999", 20},  {"\t60", 60}};
  for (const Row& row : rows) EXPECT_EQ(stopTimeoutSeconds(row.text), row.seconds) << row.text;
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
