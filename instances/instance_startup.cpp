// The instances subsystem's life in the start-up sequence. The channel and
// bridge are reached through the process state, which both mappings of the
// launcher share on Linux.
#include "instances/instance_startup.h"

#include <cstdio>
#include <cstdlib>

#include "instances/instance_filter.h"
#include "instances/receiver_bridge.h"
#include "launcher/config.h"
#include "launcher/process_state.h"
#include "vm/vm_host.h"

namespace qlx {

namespace {

// Why there is no table, for the modes that would use one.
std::string& tableProblem() {
  static std::string problem;
  return problem;
}

void leaveTable() {
  if (InstanceChannel* live = processState().instanceChannel) live->platform().leaveAtExit();
}

void JNICALL leaveTableAtAbort() { leaveTable(); }

}  // namespace

InstanceChannel* instanceChannel() { return processState().instanceChannel; }
ReceiverBridge* receiverBridge() { return processState().receiverBridge; }

void attachInstances(const std::string& appid, VmHost& vmHost) {
  std::unique_ptr<InstancePlatform> platform = openInstancePlatform(appid, tableProblem());
  if (!platform || platform->table() == nullptr) return;
  // They live until the process ends: natives may run during its exit.
  auto* channel = new InstanceChannel(std::move(platform));
  ProcessState& state = processState();
  state.receiverBridge = new ReceiverBridge(*channel);
  state.instanceChannel = channel;
  // The VM may end the process from System.exit, past the end of the run,
  // or abort it while it starts.
  std::atexit(leaveTable);
  vmHost.addOption("abort", reinterpret_cast<void*>(&leaveTableAtAbort));
}

void startInstanceReceiver() {
  ProcessState& state = processState();
  if (state.instanceChannel == nullptr) {
    std::string& problem = tableProblem();
    if (!problem.empty()) {
      const std::string line = "Instance services are unavailable: " + problem + "\n";
      std::fputs(line.c_str(), stderr);
      std::fflush(stderr);
      problem.clear();
    }
    return;
  }
  if (state.context != nullptr && !state.instanceChannel->receiverStarted()) {
    // Class names: kept in UTF-8, as the VM reads them.
    state.receiverBridge->setFilter(
        instanceFilterText(lookupValue(*state.context, "instancefilter", false, false),
                           mainClassValue(*state.context)));
  }
  state.instanceChannel->startReceiver(state.receiverBridge);
}

void handArgumentsToFirstInstance(int argc, char** argv) {
  ProcessState& state = processState();
  if (state.instanceChannel == nullptr) return;
  StringList arguments;
  for (int i = 0; i < argc; ++i) arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
  ReceiverBridge* bridge = state.receiverBridge;
  const uint32_t owner = state.instanceChannel->ownerId();
  bridge->awaitHandoverAnswer(owner);
  state.instanceChannel->sendArguments(owner, arguments, [bridge] { return bridge->handoverDone(); });
}

void endInstances() {
  ProcessState& state = processState();
  InstanceChannel* channel = state.instanceChannel;
  if (channel == nullptr) return;
  // A receiver still inside a delivery keeps the table mapped; natives that
  // run later find no channel rather than unmapped memory.
  if (!channel->stop()) return;
  state.instanceChannel = nullptr;
  channel->platform().releaseTable();
}

}  // namespace qlx
