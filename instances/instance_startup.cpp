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

// How long a second launch waits for the mutex holder to claim the table:
// launches that start together may find the mutex taken before its holder
// has run that far.
constexpr int kFirstClaimWaitMs = 3000;

void releaseHandoverFirst(InstanceChannel& channel) {
  uint32_t own = channel.ownId();
  channel.platform().table()->handoverFirstId.compare_exchange_strong(own, 0);
}

void leaveTable() {
  if (InstanceChannel* live = processState().instanceChannel) {
    releaseHandoverFirst(*live);
    live->platform().leaveAtExit();
  }
}

// The first instance of a handover: the one that claimed the table, else
// the owner (a first instance of an older build claims nothing).
uint32_t handoverTarget(InstanceChannel& channel) {
  InstanceTable& table = *channel.platform().table();
  for (int waited = 0;; waited += 10) {
    const uint32_t first = table.handoverFirstId.load();
    if (first != 0 && first != channel.ownId() && channel.platform().isAlive(first)) return first;
    if (waited >= kFirstClaimWaitMs) return channel.ownerId();
    sleepMs(10);
  }
}

}  // namespace

InstanceChannel* instanceChannel() { return processState().instanceChannel; }
ReceiverBridge* receiverBridge() { return processState().receiverBridge; }

void attachInstances(const std::string& appid, VmHost& vmHost) {
  std::unique_ptr<InstancePlatform> platform = openInstancePlatform(appid, tableProblem());
  if (!platform || platform->table() == nullptr) return;
  const bool outlives = platform->outlivesProcess();
  // They live until the process ends: natives may run during its exit.
  auto* channel = new InstanceChannel(std::move(platform));
  ProcessState& state = processState();
  state.receiverBridge = new ReceiverBridge(*channel);
  state.instanceChannel = channel;
  // The VM may end the process from System.exit, past the end of the run,
  // or abort it while it starts.
  std::atexit(leaveTable);
  if (outlives) vmHost.addAbortAction(&leaveTable);
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

void claimHandoverFirst() {
  InstanceChannel* channel = processState().instanceChannel;
  if (channel == nullptr) return;
  channel->platform().table()->handoverFirstId.store(channel->ownId());
}

void handArgumentsToFirstInstance(int argc, char** argv) {
  ProcessState& state = processState();
  if (state.instanceChannel == nullptr) return;
  StringList arguments;
  for (int i = 0; i < argc; ++i) arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
  ReceiverBridge* bridge = state.receiverBridge;
  const uint32_t first = handoverTarget(*state.instanceChannel);
  bridge->awaitHandoverAnswer(first);
  state.instanceChannel->sendArguments(
      first, arguments, [](void* b) { return static_cast<ReceiverBridge*>(b)->handoverDone(); },
      bridge);
}

void endInstances() {
  ProcessState& state = processState();
  InstanceChannel* channel = state.instanceChannel;
  if (channel == nullptr) return;
  releaseHandoverFirst(*channel);
  // A receiver still inside a delivery keeps the table mapped; natives that
  // run later find no channel rather than unmapped memory.
  if (!channel->stop()) return;
  state.instanceChannel = nullptr;
  channel->platform().releaseTable();
}

}  // namespace qlx
