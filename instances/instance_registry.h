// The instance list and the owner of the shared table: registration, the
// owner's hand-over when it is found dead, pruning dead entries, and the
// claim of the transfer slot.
#pragma once

#include <cstdint>
#include <vector>

#include "instances/instance_platform.h"

namespace qlx {

class InstanceRegistry {
 public:
  explicit InstanceRegistry(InstancePlatform& platform) : platform_(platform) {}

  // syncOwner, pruneInstances, then the own id appended unless 250 are listed.
  void registerInstance();
  void syncOwner();
  void pruneInstances();
  bool claimSlot();
  // The owner first, then the listed instances.
  std::vector<uint32_t> instances();

 private:
  // The list is rewritten by every process: under the slot mutex when there is one.
  template <typename Body>
  void underSlotLock(Body body);
  void becomeOwner(uint32_t own);

  InstancePlatform& platform_;
  uint32_t knownOwnerId_ = 0;
};

// A count read from the table, kept to what the list can hold.
int32_t listedCount(const InstanceTable& table);

}  // namespace qlx
