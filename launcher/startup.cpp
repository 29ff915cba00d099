// The launcher's main: the start-up sequence in its fixed order. Later steps
// read what earlier ones set (the working directory before the start
// directory is re-read, the redirections before the first message, the
// same-destination flag before any failure is printed), so the order here
// is part of the behaviour.
#include "launcher/startup.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "instances/instance_startup.h"
#include "launcher/arguments.h"
#include "launcher/config.h"
#include "launcher/digest.h"
#include "launcher/expand.h"
#include "launcher/launcher_context.h"
#include "launcher/messages.h"
#include "launcher/own_file.h"
#include "launcher/process_state.h"
#include "launcher/startup_trace.h"
#include "launcher/trace.h"
#include "redirect/redirect.h"
#include "service/service_command_line.h"
#include "tray/tray.h"
#include "vm/vm_host.h"

namespace qlx {

namespace {

enum class SingleInstanceMode { None, True, Handover, Custom };

SingleInstanceMode singleInstanceMode(const std::string& value) {
  if (equalsIgnoreCase(value, "true")) return SingleInstanceMode::True;
  if (equalsIgnoreCase(value, "handover")) return SingleInstanceMode::Handover;
  if (equalsIgnoreCase(value, "custom")) return SingleInstanceMode::Custom;
  return SingleInstanceMode::None;
}

// A file without a usable payload has no configuration and no archive to
// run. Say so on the console before anything is redirected, and stop.
int refuseDamagedFile(PayloadStatus status) {
  // The configuration of a damaged file cannot be trusted, so the text
  // comes from the string table and not through `message` overrides.
  std::string text = fillPlaceholders(stringTableText(kMsgNoPayload), {payloadStatusText(status)});
  printMessage(text);
  fflush(stdout);
  fflush(stderr);
  return kMsgNoPayload;
}

// The file on disk must still be the one the generator digested.
bool fileUnchanged(const LauncherContext& context) {
  const OwnFile file;
  const PayloadLayout& layout = context.payload;
  if (!file.valid() || file.size() != layout.fileSize || layout.digestOffset < 0 ||
      static_cast<uint64_t>(layout.digestOffset) + kDigestSize > file.size()) {
    return false;
  }
  Digest stored, digest;
  const auto read = [&file](uint64_t offset, uint8_t* out, size_t size) {
    return file.readAt(offset, out, size);
  };
  return file.readAt(static_cast<uint64_t>(layout.digestOffset), stored.data(), kDigestSize) &&
         streamedFileDigest(read, layout, digest) && digest == stored;
}

// Steps 8 and 9: the working directory, by default the program's directory.
void applyWorkingDirectory(LauncherContext& context) {
  std::string value = forceCwdValue(context);
  if (value.empty()) value = ".";
  std::string full = fullPathName(workingDirectoryCandidate(context.applicationHome, value));
  if (!full.empty()) setWorkingDirectory(full);  // a rejected directory is silently kept
  refreshStartDirectory(context);
  traceWorkingDirectory(context);
}

// When the VM ends the process itself (System.exit), the output still on its
// way into a rotated log must reach it first.
void JNICALL finishLogsAtVmExit(jint) { finishRotatedLogs(); }

// A log that cannot be opened is said once where it will be seen; a
// service then does not start (the service runtime reads the flag).
void noteLogNotOpened(bool standardOutput, const std::string& path, const std::string& problem,
                      const std::string& fallback) {
  if (problem.empty()) return;
  processState().logNotOpened = kMsgLogNotOpened;
  const std::string line = messageWith(
      kMsgLogNotOpened, {standardOutput ? "Standard output" : "Standard error", path, problem});
  if (tracing()) trace(line.c_str());
  sayLogNotOpened(standardOutput, line, path == fallback ? std::string() : fallback);
}

// Steps 10 to 12: standard error always goes somewhere, by default into a
// log beside the program; standard output only when configured.
void applyRedirection(const LauncherContext& context, VmHost& vmHost) {
  std::string rotationProblem;
  const RotationPolicy rotation = rotationPolicy(
      logRotateValue(context), logKeepValue(context), logMaxAgeValue(context), rotationProblem);
  setLogRotation(rotation);
  if (rotation.enabled()) vmHost.addOption("exit", reinterpret_cast<void*>(&finishLogsAtVmExit));
  const std::string besideProgram = context.applicationPath + ".stderr.log";
  std::string errorTarget = stderrValue(context);
  if (errorTarget.empty()) errorTarget = besideProgram;
  noteLogNotOpened(false, errorTarget, redirectStderr(errorTarget), besideProgram);
  std::string outputTarget = stdoutValue(context);
  if (!outputTarget.empty()) {
    noteLogNotOpened(true, outputTarget, redirectStdout(outputTarget), besideProgram);
  }
  processState().sameDestination = !outputTarget.empty() && outputTarget == errorTarget;
  traceRedirection(errorTarget, outputTarget);
  // Into the log, where whoever reads it will look for why it is not rotated.
  if (!rotationProblem.empty()) {
    fputs(rotationProblem.c_str(), stderr);
    fputc('\n', stderr);
  }
}

// Step 14 on its own, like the other steps with locals of their own, so
// that the frame of the start-up stays small: whether another instance
// holds the mutex.
[[gnu::noinline]] bool claimSingleInstance(SingleInstanceMode mode,
                                           const LauncherContext& context) {
  bool otherInstance = false;
  if (mode == SingleInstanceMode::True || mode == SingleInstanceMode::Handover) {
    const std::string mutexName =
        singleInstanceMutexName(appidValue(context), context.applicationPath);
    otherInstance = !acquireSingleInstance(mutexName);
    if (mode == SingleInstanceMode::Handover && !otherInstance) claimHandoverFirst();
    traceSingleInstance(mode == SingleInstanceMode::True ? "true" : "handover", mutexName,
                        otherInstance);
    if (mode == SingleInstanceMode::True && otherInstance) reportFatal(kMsgAlreadyRunning);
  } else if (mode == SingleInstanceMode::Custom) {
    traceSingleInstance("custom", "", false);
    startInstanceReceiver();
  } else {
    traceSingleInstance("", "", false);
  }
  return otherInstance;
}

// Step 15: the arguments with their wildcards expanded, in `rebuilt`, and
// argc and argv pointing at them.
[[gnu::noinline]] void expandWildcards(int wildcard, StringList& rebuilt,
                                       std::vector<char*>& pointers, int& argc, char**& argv) {
  Os& os = systemOs();
  rebuilt = rebuildArguments(wildcard, rawCommandLine(argc, argv),
                             [&os](const std::string& pattern, StringList& list) {
                               findMatches(os, pattern, list);
                             });
  for (std::string& argument : rebuilt) pointers.push_back(&argument[0]);
  pointers.push_back(nullptr);
  argc = static_cast<int>(rebuilt.size());
  argv = pointers.data();
}

// --- The tray at its steps ---------------------------------------------------
void startTrayWindow() { startTrayWindowThread(); }  // step 17
void trayCleanup() { removeTrayIcons(); }            // step 20

}  // namespace

std::string workingDirectoryCandidate(const std::string& base, const std::string& path,
                                      LeadByteTest isLead) {
  if ((!path.empty() && path[0] == '/') || (path.size() > 1 && path[1] == ':')) return path;
  if (path.empty() || path[0] != '\\') {
    // Without a home directory there is nothing to resolve against; the
    // path then stays relative to the current directory.
    if (base.empty()) return path;
    return endsWithSeparator(base, isLead) ? base + path : base + "/" + path;
  }
  // A path from the root of the program's drive.
  if (base.find(':') == 1) return base.substr(0, 2) + path;
  return path;
}

std::string singleInstanceMutexName(const std::string& appid, const std::string& applicationPath) {
  std::string name = appid.empty() ? applicationPath : appid;
  for (char& c : name) {
    if (c == ':' || c == '\\') c = '.';
  }
  return name + ".qlx.mutex";
}

int runLauncher(int argc, char** argv) {
  setUserLocale();  // step 1
  gProcessTrace.start(systemOs().getEnv("_BROVANE_TRACE_"));

  // The two large objects live on the heap: in this function's frame they
  // would put its other locals out of reach of short stack offsets.
  const std::unique_ptr<LauncherContext> contextHolder = std::make_unique<LauncherContext>();
  LauncherContext& context = *contextHolder;  // step 2
  loadConfiguration(context);
  traceConfiguration(context);
  if (context.payloadStatus != PayloadStatus::Ok) return refuseDamagedFile(context.payloadStatus);

  // The commands that only talk to the service manager or print a line
  // are no run of the application: they take no part in its instances and
  // never reach a running instance (a handover would carry their switches,
  // a password among them, to it). The service commands also leave the
  // application's logs alone: their lines are for the console.
  const RunKind run = runKindOf(argc > 0 ? argc - 1 : 0, argc > 0 ? argv + 1 : argv);
  const bool application = run == RunKind::Application;

  const std::unique_ptr<VmHost> vmHostHolder = std::make_unique<VmHost>();
  VmHost& vmHost = *vmHostHolder;  // step 3
  if (application) attachInstances(appidValue(context), vmHost);  // steps 4-5

  ProcessState& state = processState();  // step 6
  state.context = &context;
  state.vmHost = &vmHost;

  initCommonControls();            // step 7
  applyWorkingDirectory(context);  // steps 8-9
  if (run != RunKind::ServiceCommand) {
    applyRedirection(context, vmHost);  // steps 10-12
  } else {
    traceStreamsLeftAlone();
  }

  const bool unchanged = fileUnchanged(context);  // step 13
  traceIntegrity(unchanged);
  if (!unchanged) reportFatal(kMsgModified);

  // Step 14. The mutex of modes true and handover stays owned until the
  // process ends.
  const SingleInstanceMode mode =
      application ? singleInstanceMode(singleInstanceValue(context)) : SingleInstanceMode::None;
  const bool otherInstance = claimSingleInstance(mode, context);

  // Step 15: the rebuilt vector replaces the runtime's for the rest of the run.
  StringList rebuilt;
  std::vector<char*> rebuiltPointers;
  const int wildcard = application ? wildcardMode(wildcardValue(context)) : 0;
  if (wildcard != 0) expandWildcards(wildcard, rebuilt, rebuiltPointers, argc, argv);

  if (mode == SingleInstanceMode::Handover) {  // step 16
    startInstanceReceiver();
    if (otherInstance) {
      handArgumentsToFirstInstance(argc > 0 ? argc - 1 : 0, argc > 0 ? argv + 1 : argv);
      endInstances();
      fflush(stdout);
      fflush(stderr);
      exit(kMsgAlreadyRunning);
    }
  }

  if (application) startTrayWindow();  // step 17

  int exitCode = serviceCommandLine(argc > 0 ? argc - 1 : 0, argc > 0 ? argv + 1 : argv);  // 18

  vmHost.shutdownVm();  // step 19
  trayCleanup();        // step 20
  state.context = nullptr;
  state.vmHost = nullptr;
  // Steps 21-22: the receiver is joined before the table memory goes.
  endInstances();
  return exitCode;
}

}  // namespace qlx
