// The instance list and the owner of the shared table. Any process may have
// left any value in the table, so counts are clamped before use.
#include "instances/instance_registry.h"

namespace qlx {

int32_t listedCount(const InstanceTable& table) {
  const int32_t count = table.instanceCount.load();
  if (count < 0) return 0;
  return count > kMaxInstances ? kMaxInstances : count;
}

template <typename Body>
void InstanceRegistry::underSlotLock(Body body) {
  const bool locked = platform_.lockSlot();
  body();
  if (locked) platform_.unlockSlot();
}

void InstanceRegistry::becomeOwner(uint32_t own) {
  knownOwnerId_ = own;
  // A process that never attached to a live owner holds no objects to
  // publish: it makes fresh ones, as the first owner did.
  if (!platform_.hasSyncObjects()) platform_.createSyncObjects();
  uint64_t mutexValue = 0, eventValue = 0;
  platform_.publishedValues(mutexValue, eventValue);
  InstanceTable& table = *platform_.table();
  storeHandleValue(table.mutexHandle, mutexValue);
  storeHandleValue(table.eventHandle, eventValue);
  platform_.detachOwner();
}

void InstanceRegistry::syncOwner() {
  InstanceTable& table = *platform_.table();
  const uint32_t own = platform_.ownProcessId();
  // Two processes may decide at once; the exchange lets one of them win and
  // the other looks again.
  for (int attempt = 0; attempt < 4; ++attempt) {
    uint32_t owner = table.ownerProcessId.load();
    if (owner == 0) {
      if (table.ownerProcessId.compare_exchange_strong(owner, own)) {
        becomeOwner(own);
        return;
      }
      continue;
    }
    if (owner == own) return;
    if (owner == knownOwnerId_ && platform_.attachedOwnerRunning()) return;
    if (!platform_.isAlive(owner)) {
      if (table.ownerProcessId.compare_exchange_strong(owner, own)) {
        becomeOwner(own);
        return;
      }
      continue;
    }
    if (owner == knownOwnerId_) return;
    knownOwnerId_ = owner;
    platform_.attachOwner(owner, loadHandleValue(table.mutexHandle),
                        loadHandleValue(table.eventHandle));
    return;
  }
}

void InstanceRegistry::pruneInstances() {
  InstanceTable& table = *platform_.table();
  underSlotLock([&] {
    const uint32_t owner = table.ownerProcessId.load();
    const int32_t count = listedCount(table);
    int32_t kept = 0;
    for (int32_t i = 0; i < count; ++i) {
      const uint32_t id = table.instanceIds[i].load();
      if (id == owner || !platform_.isAlive(id)) continue;
      table.instanceIds[kept++].store(id);
    }
    table.instanceCount.store(kept);
  });
}

void InstanceRegistry::registerInstance() {
  syncOwner();
  pruneInstances();
  InstanceTable& table = *platform_.table();
  underSlotLock([&] {
    const int32_t count = listedCount(table);
    if (count >= kMaxInstances) return;  // not listed, still an instance
    table.instanceIds[count].store(platform_.ownProcessId());
    table.instanceCount.store(count + 1);
  });
}

bool InstanceRegistry::claimSlot() {
  InstanceTable& table = *platform_.table();
  if (!platform_.lockSlot()) return false;
  bool claimed = false;
  if (table.slotBusy.load() == 0) {
    // A new claim is never taken for the chunk an instance is about to
    // drop: it has another target and no rounds yet.
    table.targetProcessId.store(0);
    table.waitRounds.store(0);
    table.slotBusy.store(1);
    claimed = true;
  }
  platform_.unlockSlot();
  return claimed;
}

std::vector<uint32_t> InstanceRegistry::instances() {
  InstanceTable& table = *platform_.table();
  std::vector<uint32_t> ids;
  ids.push_back(table.ownerProcessId.load());
  const int32_t count = listedCount(table);
  for (int32_t i = 0; i < count; ++i) ids.push_back(table.instanceIds[i].load());
  return ids;
}

}  // namespace qlx
