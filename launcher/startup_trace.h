// Trace lines of the start-up sequence (trace.h), kept out of the sequence
// itself so that it reads as the ordered list of steps it is.
#pragma once

#include <string>

#include "launcher/launcher_context.h"

namespace qlx {

// Each writes its line only when tracing is on.
void traceConfiguration(const LauncherContext& context);  // payload sizes, sources read
void traceWorkingDirectory(const LauncherContext& context);
void traceRedirection(const std::string& errorTarget, const std::string& outputTarget);
void traceStreamsLeftAlone();  // instead of the redirection, for the service commands
void traceIntegrity(bool unchanged);
void traceSingleInstance(const char* mode, const std::string& mutexName, bool otherInstance);

}  // namespace qlx
