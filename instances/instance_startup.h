// The instances subsystem at its points of the start-up sequence: the table
// mapped and the process registered before any single-instance decision,
// the receiver in the modes that use it, the handover of a second launch,
// and the end of the run.
#pragma once

#include <string>

namespace qlx {

class InstanceChannel;
class ReceiverBridge;
class VmHost;

// Maps the table (the named mapping of `appid`, else the executable's own)
// and registers the process. Without table memory there are no instance
// services, and the run goes on. A VM that aborts (one that fails to start
// ends the process without exit handlers) gives the table up first.
void attachInstances(const std::string& appid, VmHost& vmHost);
// In the modes that use instances; says once on standard error why there
// are none when the table could not be had.
void startInstanceReceiver();
// The launch that holds the single-instance mutex in handover mode says so
// in the table, for the second launches.
void claimHandoverFirst();
// A second launch in handover mode: hands the arguments to the first
// instance and waits for its answer, which is printed.
void handArgumentsToFirstInstance(int argc, char** argv);
// Stops the receiver (woken and joined) and only then lets the table go.
void endInstances();

// The channel and the bridge of the process; null without a table.
InstanceChannel* instanceChannel();
ReceiverBridge* receiverBridge();

}  // namespace qlx
