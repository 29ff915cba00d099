// The service commands. Each asks the manager once, then polls until the
// service reaches the wanted state or the bound passes, and ends with one
// line. A failure's line is "Service 'x' <verb> failed, <reason>", and the
// reason's message id is the exit code, as for /install and /uninstall.
#include "service/service_commands.h"

#include <string>

#include "launcher/messages.h"
#include "launcher/text.h"
#include "launcher/trace.h"
#include "service/service_numbers.h"
#include "service/service_rights.h"

namespace qlx {
namespace {


// Starting and pausing have no bound of their own; a service that reports
// progress (check point and wait hint) gets more time.
constexpr uint32_t kTransitionBoundMs = 30000;
// The manager may take a moment to show the stopped state after the stop
// bound has run out in the service.
constexpr uint32_t kStopGraceMs = 5000;
// A pause or continue the application refused leaves the state as it was.
constexpr uint32_t kRefusalSettleMs = 2000;
constexpr uint32_t kPollMs = 200;

bool isPending(uint32_t state) {
  return state == kServiceStartPending || state == kServiceStopPending || state == kServiceContinuePending ||
         state == kServicePausePending;
}

const char* verbOf(ServiceCommand command) {
  switch (command) {
    case ServiceCommand::Start: return "start";
    case ServiceCommand::Stop: return "stop";
    case ServiceCommand::Restart: return "restart";
    case ServiceCommand::Pause: return "pause";
    case ServiceCommand::Continue: return "continue";
    case ServiceCommand::Status: return "status";
  }
  return "";
}

std::string startTypeText(const ServiceConfigView& config) {
  switch (config.startType) {
    case 0: return "boot";
    case 1: return "system";
    case 2: return config.delayed ? "delayed automatic" : "automatic";
    case 3: return "manual";
    case 4: return "disabled";
  }
  return decimalText(config.startType);
}

class CommandRun {
 public:
  CommandRun(ServiceCommand command, const CommandSetting& setting, ServiceManagerLink& link,
             LinePrinter print, LinePrinter progress)
      : command_(command), setting_(setting), link_(link), print_(print), progress_(progress) {}

  int run(const StringList& parameters) {
    if (uint32_t error = link_.open(setting_.serviceName, commandRights(command_)))
      return failWith(error);
    if (uint32_t error = link_.query(status_)) return failWith(error);
    switch (command_) {
      case ServiceCommand::Status: return status();
      case ServiceCommand::Start:
        if (status_.state != kServiceStopped && status_.state != kServiceStopPending)
          return fail(kMsgServiceRunning);
        return finish(startService(parameters), kMsgStarted);
      case ServiceCommand::Stop:
        if (status_.state == kServiceStopped) return fail(kMsgServiceStopped);
        return finish(stopService(), kMsgStopped);
      case ServiceCommand::Restart: {
        int reason = status_.state == kServiceStopped ? 0 : stopService();
        if (reason == 0) reason = startService(parameters);
        return finish(reason, kMsgRestarted);
      }
      case ServiceCommand::Pause:
        return finish(transition(kControlPause, kServicePaused, kServicePausePending), kMsgPaused);
      case ServiceCommand::Continue:
        return finish(transition(kControlContinue, kServiceRunning, kServiceContinuePending), kMsgContinued);
    }
    return 0;
  }

 private:
  int status() {
    ServiceConfigView config;
    const bool configKnown = link_.queryConfig(config) == 0;
    print_(messageWith(kMsgStatus, {setting_.serviceName, serviceStateWord(status_.state)}));
    const std::string account =
        !configKnown ? "unknown" : config.account.empty() ? "LocalSystem" : config.account;
    print_(messageWith(kMsgStatusDetails,
                       {status_.processId != 0 ? decimalText(status_.processId) : "none",
                        configKnown ? startTypeText(config) : "unknown", account,
                        decimalText(status_.win32ExitCode),
                        decimalText(status_.serviceExitCode)}));
    print_(messageWith(kMsgStatusRecovery, {configKnown ? recoveryText(config) : "unknown"}));
    return status_.state == kServiceRunning ? 0 : static_cast<int>(status_.state);
  }

  // 0 once the service runs, else the reason.
  int startService(const StringList& parameters) {
    if (status_.state == kServiceStopPending) {
      if (int reason = waitFor(kServiceStopped, stopBoundMs(), stopBoundMs())) return reason;
    }
    // Some managers give up waiting inside the start call while the
    // service is still on its way, or already stopped again: the states
    // that follow tell which.
    const uint32_t error = link_.start(parameters);
    if (error != 0 && error != kWinServiceRequestTimeout) return reasonOf(error);
    if (int reason = waitFor(kServiceRunning, kTransitionBoundMs, 0)) {
      if (reason != kMsgServiceStopped) return reason;
      // It ended before it ran: say with which code, and where it wrote why.
      const uint32_t code = status_.win32ExitCode == kWinServiceSpecificError
                                ? status_.serviceExitCode
                                : status_.win32ExitCode;
      detail_ = messageWith(kMsgStartFailed, {decimalText(code), setting_.errorLog});
      return kMsgStartFailed;
    }
    return 0;
  }

  int stopService() {
    // A stop already under way (another /stop, the system shutting down)
    // is the wanted one: wait for it.
    if (status_.state == kServiceStopPending) return waitFor(kServiceStopped, stopBoundMs(), stopBoundMs());
    uint32_t error = link_.control(kControlStop);
    if (error != 0 && status_.state == kServiceStartPending && refusesForNow(error)) {
      // A service that is still starting takes controls only once it has
      // told the manager which ones: the stop follows as soon as it can.
      const int reason = waitFor(kServiceRunning, kTransitionBoundMs, 0);
      if (reason == kMsgServiceStopped) return 0;  // it ended meanwhile
      if (reason != 0) return reason;
      error = link_.control(kControlStop);
    }
    if (error != 0) {
      if (error == kWinServiceNotActive) return kMsgServiceStopped;
      return reasonOf(error);
    }
    return waitFor(kServiceStopped, stopBoundMs(), stopBoundMs());
  }

  static bool refusesForNow(uint32_t error) {
    return error == kWinServiceCannotAcceptControl || error == kWinInvalidServiceControl;
  }

  int transition(uint32_t control, uint32_t target, uint32_t pending) {
    if (status_.state == target) return 0;
    if (status_.state == kServiceStopped || status_.state == kServiceStopPending) return kMsgServiceStopped;
    if (uint32_t error = link_.control(control)) return reasonOf(error);
    const int reason = waitFor(target, kTransitionBoundMs, kRefusalSettleMs);
    if (reason == kMsgCommandTimedOut && status_.state != pending) return refused();
    return reason;
  }

  uint32_t stopBoundMs() const { return setting_.stopBoundSeconds * 1000 + kStopGraceMs; }

  // 0 when `target` is reached. A state that is neither the target nor on
  // the way (kept for settleMs) ends the wait early: stopped while starting
  // gives kMsgServiceStopped at once.
  int waitFor(uint32_t target, uint32_t boundMs, uint32_t settleMs) {
    const uint64_t begin = link_.nowMs();
    uint64_t deadline = begin + boundMs;
    uint64_t settledSince = 0;
    uint32_t checkPoint = status_.checkPoint;
    uint64_t nextDot = begin + 1000;
    bool announced = false;
    for (;;) {
      if (uint32_t error = link_.query(status_)) return reasonOf(error);
      const uint64_t now = link_.nowMs();
      if (status_.state == target) break;
      if (target == kServiceRunning && status_.state == kServiceStopped) {
        endProgress(announced);
        return kMsgServiceStopped;
      }
      if (status_.checkPoint != checkPoint && status_.waitHint > 0) {
        checkPoint = status_.checkPoint;
        if (now + status_.waitHint > deadline) deadline = now + status_.waitHint;
      }
      if (isPending(status_.state)) {
        settledSince = 0;
      } else if (settledSince == 0) {
        settledSince = now;
      }
      if (now >= deadline || (settledSince != 0 && now - settledSince >= settleMs && settleMs > 0)) {
        endProgress(announced);
        waitedSeconds_ = static_cast<uint32_t>((now - begin + 999) / 1000);
        targetWord_ = serviceStateWord(target);
        return kMsgCommandTimedOut;
      }
      if (now >= nextDot) {
        if (!announced) {
          progress_(messageWith(kMsgWaiting, {setting_.serviceName, serviceStateWord(target)}));
          announced = true;
        }
        progress_(".");
        nextDot += 1000;
      }
      link_.sleepMs(kPollMs);
    }
    endProgress(announced);
    return 0;
  }

  void endProgress(bool announced) {
    if (announced) progress_("\n");
  }

  int refused() {
    detail_ = messageWith(kMsgControlRefused, {serviceStateWord(status_.state)});
    return kMsgControlRefused;
  }

  int reasonOf(uint32_t error) {
    switch (error) {
      case kWinAccessDenied: return kMsgAccessDenied;
      case kWinServiceDoesNotExist: return kMsgNoSuchService;
      case kWinServiceAlreadyRunning: return kMsgServiceRunning;
      case kWinServiceNotActive: return kMsgServiceStopped;
      case kWinServiceDisabled: return kMsgServiceDisabled;
      case kWinDependencyFailed:
      case kWinDependencyDeleted: return kMsgDependencyFailed;
      case kWinLogonFailed: return kMsgLogonFailed;
      case kWinDependentServicesRunning: return kMsgDependentsRunning;
      case kWinOldWindows: return kMsgNtOnly;
      case kWinInvalidServiceControl:
      case kWinServiceCannotAcceptControl:
        link_.query(status_);
        return refused();
      default:
        detail_ = messageWith(kMsgManagerError, {decimalText(error)});
        return kMsgManagerError;
    }
  }

  int failWith(uint32_t error) { return fail(reasonOf(error)); }

  int finish(int reason, int successId) {
    if (reason != 0) return fail(reason);
    print_(messageWith(successId, {setting_.serviceName}));
    return 0;
  }

  int fail(int reason) {
    std::string text = messageWith(kMsgCommandFailed, {setting_.serviceName, verbOf(command_)});
    if (!detail_.empty()) {
      text += detail_;
    } else if (reason == kMsgCommandTimedOut) {
      text += messageWith(reason, {targetWord_, decimalText(waitedSeconds_)});
    } else {
      text += messageText(reason);
    }
    if (reason == kMsgAccessDenied) text += " " + messageText(kMsgNeedElevation);
    print_(text);
    return reason;
  }

  ServiceCommand command_;
  const CommandSetting& setting_;
  ServiceManagerLink& link_;
  LinePrinter print_;
  LinePrinter progress_;
  ServiceStatusView status_;
  std::string detail_;  // a reason text with its values filled in
  std::string targetWord_;
  uint32_t waitedSeconds_ = 0;
};

const char* actionWord(uint32_t type) {
  switch (type) {
    case 0: return "nothing";
    case 1: return "restart";
    case 2: return "reboot";
    case 3: return "command";
  }
  return "action";
}

}  // namespace

std::string recoveryText(const ServiceConfigView& config) {
  if (!config.recoveryKnown) return "unknown";
  bool any = false;
  for (const RecoveryAction& action : config.recovery) any = any || action.type != 0;
  if (!any) return "none";
  // Runs of the same action read as one: "restart after 60 s (3 times)".
  std::string text;
  DecimalBuffer number;
  const std::vector<RecoveryAction>& actions = config.recovery;
  for (size_t i = 0, end = 0; i < actions.size(); i = end) {
    for (end = i + 1; end < actions.size() && actions[end].type == actions[i].type &&
                      actions[end].delayMs == actions[i].delayMs;)
      ++end;
    if (!text.empty()) text += ", then ";
    text += actionWord(actions[i].type);
    if (actions[i].type == 0) continue;
    text.append(" after ").append(decimal(actions[i].delayMs / 1000, number)).append(" s");
    if (end - i > 1) text.append(" (").append(decimal(end - i, number)).append(" times)");
  }
  text.append("; failures forgotten after ").append(decimal(config.resetSeconds, number)) += " s";
  if (config.failOnExit == 1) text += "; a non-zero exit counts";
  return text;
}

std::string serviceStateWord(uint32_t state) {
  switch (state) {
    case kServiceStopped: return "stopped";
    case kServiceStartPending: return "starting";
    case kServiceStopPending: return "stopping";
    case kServiceRunning: return "running";
    case kServiceContinuePending: return "continuing";
    case kServicePausePending: return "pausing";
    case kServicePaused: return "paused";
  }
  return "in state " + decimalText(state);
}

int runServiceCommand(ServiceCommand command, const StringList& parameters,
                      const CommandSetting& setting, ServiceManagerLink& link,
                      LinePrinter print, LinePrinter progress) {
  return CommandRun(command, setting, link, print, progress).run(parameters);
}

}  // namespace qlx
