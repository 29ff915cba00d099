// The service commands against a scripted manager: which request is sent,
// how the wait ends, the one line printed and the exit code.
#include <gtest/gtest.h>

#include <vector>

#include "launcher/messages.h"
#include "service/service_commands.h"
#include "service/service_numbers.h"
#include "service/service_rights.h"

namespace qlx {
namespace {

// Each query returns the next scripted state (the last one repeats); time
// passes only while the command sleeps.
class ScriptedManager : public ServiceManagerLink {
 public:
  uint32_t openError = 0, startError = 0, controlError = 0;
  // Refusals of the first controls only (a service still starting).
  std::vector<uint32_t> controlErrors;
  std::vector<ServiceStatusView> states;
  ServiceConfigView config;
  std::vector<std::string> calls;
  uint64_t now = 0;
  uint32_t rights = 0;  // asked for at open
  uint32_t used = 0;    // needed by the calls made since

  uint32_t open(const std::string& name, uint32_t asked) override {
    calls.push_back("open " + name);
    rights = asked;
    return openError;
  }
  uint32_t query(ServiceStatusView& status) override {
    used |= kRightQueryStatus;
    status = states[next_ < states.size() ? next_++ : states.size() - 1];
    return 0;
  }
  uint32_t queryConfig(ServiceConfigView& view) override {
    used |= kRightQueryConfig;
    view = config;
    return 0;
  }
  uint32_t start(const StringList& parameters) override {
    used |= kRightStart;
    std::string call = "start";
    for (const std::string& p : parameters) call += " " + p;
    calls.push_back(call);
    return startError;
  }
  uint32_t control(uint32_t control) override {
    used |= control == kControlStop ? uint32_t{kRightStop} : uint32_t{kRightPauseContinue};
    calls.push_back("control " + std::to_string(control));
    if (controls_ < controlErrors.size()) return controlErrors[controls_++];
    return controlError;
  }
  void sleepMs(uint32_t ms) override { now += ms; }
  uint64_t nowMs() override { return now; }

 private:
  size_t next_ = 0;
  size_t controls_ = 0;
};

ServiceStatusView state(uint32_t s, uint32_t win32 = 0, uint32_t specific = 0) {
  ServiceStatusView v;
  v.state = s;
  v.win32ExitCode = win32;
  v.serviceExitCode = specific;
  v.processId = s == 1 ? 0 : 77;
  return v;
}

struct CommandOutcome {
  int code;
  std::vector<std::string> lines;
  std::string progress;
};

CommandOutcome run(ServiceCommand command, ScriptedManager& manager, StringList parameters = {}) {
  CommandSetting setting;
  setting.serviceName = "Svc";
  setting.stopBoundSeconds = 3;
  setting.errorLog = "C:\\app\\svc.exe.stderr.log";
  CommandOutcome r;
  r.code = runServiceCommand(
      command, parameters, setting, manager, [&](const std::string& l) { r.lines.push_back(l); },
      [&](const std::string& p) { r.progress += p; });
  return r;
}

TEST(ServiceCommands, OutcomesLinesAndExitCodes) {
  struct Case {
    const char* name;
    ServiceCommand command;
    std::vector<ServiceStatusView> states;
    uint32_t openError, startError, controlError;
    int code;
    const char* line;
  } cases[] = {
      {"start", ServiceCommand::Start, {state(1), state(2), state(4)}, 0, 0, 0, 0,
       "Service 'Svc' started."},
      {"start while running", ServiceCommand::Start, {state(4)}, 0, 0, 0, kMsgServiceRunning,
       "Service 'Svc' start failed, the service is already running."},
      {"start that fails", ServiceCommand::Start, {state(1), state(2), state(1, 1066, 7)}, 0, 0, 0,
       kMsgStartFailed,
       "Service 'Svc' start failed, the service stopped while starting, with exit code 7; see "
       "its error log C:\\app\\svc.exe.stderr.log"},
      {"start that fails inside the start call", ServiceCommand::Start,
       {state(1), state(1, 1066, 1)}, 0, 1053, 0, kMsgStartFailed,
       "Service 'Svc' start failed, the service stopped while starting, with exit code 1; see "
       "its error log C:\\app\\svc.exe.stderr.log"},
      {"start disabled", ServiceCommand::Start, {state(1)}, 0, 1058, 0, kMsgServiceDisabled,
       "Service 'Svc' start failed, the service is disabled."},
      {"start dependency", ServiceCommand::Start, {state(1)}, 0, 1068, 0, kMsgDependencyFailed,
       "Service 'Svc' start failed, a service it depends on could not be started."},
      {"start dependency missing", ServiceCommand::Start, {state(1)}, 0, 1075, 0,
       kMsgDependencyFailed,
       "Service 'Svc' start failed, a service it depends on could not be started."},
      {"start logon", ServiceCommand::Start, {state(1)}, 0, 1069, 0, kMsgLogonFailed,
       "Service 'Svc' start failed, the service account could not log on; check the account "
       "name and password."},
      {"start never runs", ServiceCommand::Start, {state(1), state(2)}, 0, 0, 0,
       kMsgCommandTimedOut, "Service 'Svc' start failed, the service did not become running "
                            "within 30 seconds."},
      {"not installed", ServiceCommand::Stop, {state(1)}, 1060, 0, 0, kMsgNoSuchService,
       "Service 'Svc' stop failed, service does not exist."},
      {"denied", ServiceCommand::Pause, {state(4)}, 5, 0, 0, kMsgAccessDenied,
       "Service 'Svc' pause failed, the requested access was denied. Run the command from an "
       "elevated prompt (Run as administrator)."},
      {"stop", ServiceCommand::Stop, {state(4), state(3), state(1)}, 0, 0, 0, 0,
       "Service 'Svc' stopped."},
      {"stop when stopped", ServiceCommand::Stop, {state(1)}, 0, 0, 0, kMsgServiceStopped,
       "Service 'Svc' stop failed, the service is already stopped."},
      {"stop hangs past the bound", ServiceCommand::Stop, {state(4), state(3)}, 0, 0, 0,
       kMsgCommandTimedOut,
       "Service 'Svc' stop failed, the service did not become stopped within 8 seconds."},
      {"stop with dependents", ServiceCommand::Stop, {state(4)}, 0, 0, 1051,
       kMsgDependentsRunning,
       "Service 'Svc' stop failed, services that depend on it are running; stop them first."},
      {"restart", ServiceCommand::Restart, {state(4), state(3), state(1), state(2), state(4)}, 0,
       0, 0, 0, "Service 'Svc' restarted."},
      {"restart a stopped one", ServiceCommand::Restart, {state(1), state(4)}, 0, 0, 0, 0,
       "Service 'Svc' restarted."},
      {"pause", ServiceCommand::Pause, {state(4), state(6), state(7)}, 0, 0, 0, 0,
       "Service 'Svc' paused."},
      {"pause refused by the manager", ServiceCommand::Pause, {state(4)}, 0, 0, 1052,
       kMsgControlRefused,
       "Service 'Svc' pause failed, the service does not accept this request while it is "
       "running."},
      {"pause refused by the application", ServiceCommand::Pause, {state(4)}, 0, 0, 0,
       kMsgControlRefused,
       "Service 'Svc' pause failed, the service does not accept this request while it is "
       "running."},
      {"pause when stopped", ServiceCommand::Pause, {state(1)}, 0, 0, 0, kMsgServiceStopped,
       "Service 'Svc' pause failed, the service is already stopped."},
      {"continue", ServiceCommand::Continue, {state(7), state(5), state(4)}, 0, 0, 0, 0,
       "Service 'Svc' continued."},
      {"continue when running", ServiceCommand::Continue, {state(4)}, 0, 0, 0, 0,
       "Service 'Svc' continued."},
      {"other manager error", ServiceCommand::Start, {state(1)}, 0, 1055, 0, kMsgManagerError,
       "Service 'Svc' start failed, the Service Control Manager reported error 1055."},
      // A stop already under way is waited for, not refused.
      {"stop while stopping", ServiceCommand::Stop, {state(3), state(3), state(1)}, 0, 0, 1061, 0,
       "Service 'Svc' stopped."},
  };
  for (const Case& c : cases) {
    ScriptedManager manager;
    manager.states = c.states;
    manager.openError = c.openError;
    manager.startError = c.startError;
    manager.controlError = c.controlError;
    const CommandOutcome r = run(c.command, manager);
    EXPECT_EQ(r.code, c.code) << c.name;
    ASSERT_EQ(r.lines.size(), 1u) << c.name;
    EXPECT_EQ(r.lines[0], c.line) << c.name;
  }
}

TEST(ServiceCommands, StartPassesParametersAndShowsProgressWhileWaiting) {
  ScriptedManager manager;
  manager.states = {state(1), state(2), state(2), state(2), state(2), state(2), state(2),
                    state(2), state(2), state(2), state(2), state(2), state(4)};
  const CommandOutcome r = run(ServiceCommand::Start, manager, {"a", "b c"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(manager.calls, (std::vector<std::string>{"open Svc", "start a b c"}));
  EXPECT_EQ(r.progress, "Waiting for service 'Svc' to become running..\n");
}

TEST(ServiceCommands, StatusPrintsStateDetailsAndTellsTheStateByExitCode) {
  struct Case {
    ServiceStatusView status;
    ServiceConfigView config;
    int code;
    const char* first;
    const char* second;
  } cases[] = {
      {state(4), {2, true, ""}, 0, "Service 'Svc' is running.",
       "Process id 77, start type delayed automatic, account LocalSystem, exit code 0, "
       "service-specific exit code 0."},
      {state(1, 1066, 3), {3, false, "NT AUTHORITY\\LocalService"}, 1, "Service 'Svc' is stopped.",
       "Process id none, start type manual, account NT AUTHORITY\\LocalService, exit code 1066, "
       "service-specific exit code 3."},
      {state(7), {4, false, ".\\alice"}, 7, "Service 'Svc' is paused.",
       "Process id 77, start type disabled, account .\\alice, exit code 0, service-specific exit "
       "code 0."},
      {state(3), {2, false, ""}, 3, "Service 'Svc' is stopping.",
       "Process id 77, start type automatic, account LocalSystem, exit code 0, service-specific "
       "exit code 0."},
  };
  for (const Case& c : cases) {
    ScriptedManager manager;
    manager.states = {c.status};
    manager.config = c.config;
    const CommandOutcome r = run(ServiceCommand::Status, manager);
    EXPECT_EQ(r.code, c.code) << c.first;
    ASSERT_EQ(r.lines.size(), 3u) << c.first;
    EXPECT_EQ(r.lines[0], c.first);
    EXPECT_EQ(r.lines[1], c.second);
    EXPECT_EQ(r.lines[2], "Recovery: unknown.");
    EXPECT_EQ(manager.calls, std::vector<std::string>{"open Svc"});
  }
}

// A stop sent while the service is still starting is refused by the
// manager until the service says what it accepts: the command waits for
// that and then stops it; one that ends meanwhile is stopped already.
TEST(ServiceCommands, StopWhileStartingWaitsUntilTheServiceTakesIt) {
  struct Case {
    const char* name;
    std::vector<ServiceStatusView> states;
    std::vector<uint32_t> refusals;
    int code;
    std::vector<std::string> calls;
  } cases[] = {
      {"refused, then taken", {state(2), state(2), state(4), state(3), state(1)}, {1061}, 0,
       {"open Svc", "control 1", "control 1"}},
      {"refused as invalid, then taken", {state(2), state(4), state(1)}, {1052}, 0,
       {"open Svc", "control 1", "control 1"}},
      {"ended while starting", {state(2), state(2), state(1)}, {1061}, 0, {"open Svc", "control 1"}},
      {"never leaves starting", {state(2)}, {1061}, kMsgCommandTimedOut, {"open Svc", "control 1"}},
      {"refused while running", {state(4)}, {1061}, kMsgControlRefused, {"open Svc", "control 1"}},
  };
  for (const Case& c : cases) {
    ScriptedManager manager;
    manager.states = c.states;
    manager.controlErrors = c.refusals;
    const CommandOutcome r = run(ServiceCommand::Stop, manager);
    EXPECT_EQ(r.code, c.code) << c.name;
    EXPECT_EQ(manager.calls, c.calls) << c.name;
  }
}

// Each command asks for the rights of the calls it makes, and no more: an
// operator allowed only to start a service can start it. Every path of a
// command is walked here, and what it used must be what it asked for.
TEST(ServiceCommands, EachCommandAsksForExactlyTheRightsItUses) {
  struct Case {
    ServiceCommand command;
    std::vector<ServiceStatusView> states;
  } cases[] = {
      {ServiceCommand::Status, {state(4)}},
      {ServiceCommand::Start, {state(1), state(2), state(4)}},
      {ServiceCommand::Stop, {state(4), state(3), state(1)}},
      {ServiceCommand::Restart, {state(4), state(3), state(1), state(2), state(4)}},
      {ServiceCommand::Pause, {state(4), state(7)}},
      {ServiceCommand::Continue, {state(7), state(4)}},
  };
  for (const Case& c : cases) {
    ScriptedManager manager;
    manager.states = c.states;
    EXPECT_EQ(run(c.command, manager).code, 0) << static_cast<int>(c.command);
    EXPECT_EQ(manager.rights, commandRights(c.command)) << static_cast<int>(c.command);
    EXPECT_EQ(manager.used, manager.rights) << static_cast<int>(c.command);
  }
  // No command but /uninstall may delete, and none of them may change the
  // service's configuration.
  for (const Case& c : cases) {
    EXPECT_EQ(commandRights(c.command) & (kRightDelete | kRightChangeConfig), 0u);
  }
  EXPECT_EQ(kUninstallRights & kRightDelete, uint32_t{kRightDelete});
  EXPECT_EQ(installRights(false), uint32_t{kRightChangeConfig});
  EXPECT_EQ(installRights(true), uint32_t{kRightChangeConfig} | kRightStart);
}

TEST(ServiceCommands, RecoveryAsStatusShowsIt) {
  struct Case {
    bool known;
    std::vector<RecoveryAction> actions;
    uint32_t reset;
    int failOnExit;
    const char* text;
  } cases[] = {
      {false, {}, 0, -1, "unknown"},
      {true, {}, 0, -1, "none"},
      {true, {{0, 0}}, 86400, 0, "none"},
      {true, {{1, 60000}, {1, 60000}, {1, 60000}, {0, 0}}, 86400, 1,
       "restart after 60 s (3 times), then nothing; failures forgotten after 86400 s; a non-zero "
       "exit counts"},
      {true, {{1, 5000}, {1, 30000}, {2, 0}}, 0xFFFFFFFF, 0,
       "restart after 5 s, then restart after 30 s, then reboot after 0 s; failures forgotten "
       "after 4294967295 s"},
  };
  for (const Case& c : cases) {
    ServiceConfigView config;
    config.recoveryKnown = c.known;
    config.recovery = c.actions;
    config.resetSeconds = c.reset;
    config.failOnExit = c.failOnExit;
    EXPECT_EQ(recoveryText(config), c.text);
  }
}

}  // namespace
}  // namespace qlx
