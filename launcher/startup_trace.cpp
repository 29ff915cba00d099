// Trace lines of the start-up sequence: what was read and decided, in the
// words a user looking for the cause of a failed start needs.
#include "launcher/startup_trace.h"

#include "launcher/trace.h"

namespace qlx {

void traceConfiguration(const LauncherContext& context) {
  if (!tracing()) return;
  if (context.payloadStatus != PayloadStatus::Ok) {
    trace("no valid payload in ", context.applicationPath.c_str(), ": ",
          payloadStatusText(context.payloadStatus));
    gProcessTrace.streamsReady();  // start-up ends here, on the console
    return;
  }
  const PayloadLayout& p = context.payload;
  DecimalBuffer file, block, archive;
  trace("payload found in ", context.applicationPath.c_str(), ": file ", decimal(p.fileSize, file),
        " bytes, configuration block ", decimal(static_cast<uint64_t>(p.blockLength), block));
  trace("payload archive ", decimal(static_cast<uint64_t>(p.archiveLength), archive), " bytes");
  trace("configuration: embedded block, ",
        context.externalPath.empty() ? "no external file" : "external file ",
        context.externalPath.c_str(),
        context.externalRepeatsEmbedded ? " (the embedded text again: not applied)" : "");
}

void traceWorkingDirectory(const LauncherContext& context) {
  if (tracing()) trace("working directory ", context.startDirectory.c_str());
}

void traceRedirection(const std::string& errorTarget, const std::string& outputTarget) {
  if (!tracing()) return;
  trace("standard error to ", errorTarget.c_str());
  trace("standard output ", outputTarget.empty() ? "not redirected" : "to ", outputTarget.c_str());
  gProcessTrace.streamsReady();
}

void traceStreamsLeftAlone() {
  if (!tracing()) return;
  trace("no redirection");
  gProcessTrace.streamsReady();
}

void traceIntegrity(bool unchanged) {
  if (tracing()) trace(unchanged ? "integrity check passed" : "integrity check failed: modified");
}

void traceSingleInstance(const char* mode, const std::string& mutexName, bool otherInstance) {
  if (!tracing()) return;
  if (mutexName.empty()) {
    trace("single instance: ", *mode ? mode : "off");
    return;
  }
  trace("single instance: ", mode, ", mutex ", mutexName.c_str(),
        otherInstance ? ": another instance is running" : ": first instance");
}

}  // namespace qlx
