// What the instances subsystem needs from the operating system, behind one
// small interface: the table memory, process ids and liveness, the slot
// mutex and the change signal. instance_platform_win.cpp gives the Windows
// objects (shared section or named mapping, an unnamed mutex and event that
// other instances duplicate from the owner); instance_platform_posix.cpp
// gives POSIX shared memory with a process-shared mutex and a futex.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "instances/instance_table.h"
#include "launcher/threading.h"

namespace qlx {

class InstancePlatform {
 public:
  virtual ~InstancePlatform() = default;

  virtual InstanceTable* table() = 0;
  virtual uint32_t ownProcessId() = 0;
  // False for 0, for ids that no longer run, and where the system can tell,
  // for a reused id that now names another process.
  virtual bool isAlive(uint32_t id) = 0;

  // The slot mutex and the change event. An owner creates them and
  // publishes values other instances attach with.
  virtual bool hasSyncObjects() = 0;
  virtual void createSyncObjects() = 0;
  virtual void publishedValues(uint64_t& mutexValue, uint64_t& eventValue) = 0;
  // Attaches to a live owner: watches its process, and takes its objects
  // where this process holds none yet.
  virtual void attachOwner(uint32_t ownerId, uint64_t mutexValue, uint64_t eventValue) = 0;
  // Whether the owner attached to last still runs (false when none is).
  virtual bool attachedOwnerRunning() = 0;
  // Whether the end of the attached owner wakes waitForChange by itself;
  // where it does not, a receiver has to look at the owner now and then.
  virtual bool watchesOwner() { return false; }
  virtual void detachOwner() = 0;

  // False when there is no mutex to take.
  virtual bool lockSlot() = 0;
  virtual void unlockSlot() = 0;

  // Wakes every waiting instance and counts the change in the table.
  virtual void signalChange() = 0;
  // Wakes one instance's receiver for sure, where a signalled change could
  // reach it too late (a pulse finds only threads already waiting).
  virtual void wake(uint32_t id) = 0;
  // Blocks until a change is signalled, the attached owner ends, this
  // process is woken, or timeoutMs pass (never with kWaitForever).
  virtual void waitForChange(int32_t lastSeen, uint32_t timeoutMs) = 0;
  void wakeReceiver() { wake(ownProcessId()); }

  // Ends the use of the table memory (a named mapping is unmapped).
  virtual void releaseTable() = 0;
  // At process exit, where the memory must stay mapped: gives up what
  // would outlive the process (the Linux object's name, by its last user).
  virtual void leaveAtExit() {}
  // Whether anything would outlive the process that leaveAtExit must give up.
  virtual bool outlivesProcess() const { return false; }
};

// The platform of this process for the given application id (an empty id
// means the executable's own table). Null when no table memory can be had,
// with `problem` saying why in a few words.
std::unique_ptr<InstancePlatform> openInstancePlatform(const std::string& appid,
                                                       std::string& problem);

// Name of the table mapping for an application id.
std::string instanceMappingName(const std::string& appid);

}  // namespace qlx
