// The instances subsystem's life in the start-up sequence. The channel and
// bridge are reached through the process state, which both mappings of the
// launcher share on Linux.
#include "instances/instance_startup.h"

#include <cstdlib>

#include "instances/instance_filter.h"
#include "instances/receiver_bridge.h"
#include "launcher/config.h"
#include "launcher/process_state.h"

namespace qlx {

InstanceChannel* instanceChannel() { return processState().instanceChannel; }
ReceiverBridge* receiverBridge() { return processState().receiverBridge; }

void attachInstances(const std::string& appid) {
  std::unique_ptr<InstancePlatform> platform = openInstancePlatform(appid);
  if (!platform || platform->table() == nullptr) return;
  // They live until the process ends: natives may run during its exit.
  auto* channel = new InstanceChannel(std::move(platform));
  ProcessState& state = processState();
  state.receiverBridge = new ReceiverBridge(*channel);
  state.instanceChannel = channel;
  // The VM may end the process from System.exit, past the end of the run.
  std::atexit([] {
    if (InstanceChannel* live = processState().instanceChannel) live->platform().leaveAtExit();
  });
}

void startInstanceReceiver() {
  ProcessState& state = processState();
  if (state.instanceChannel == nullptr) return;
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
  state.instanceChannel->sendArguments(
      arguments, [](void* bridge) { return static_cast<ReceiverBridge*>(bridge)->handoverDone(); },
      state.receiverBridge);
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
