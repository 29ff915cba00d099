// The VM gate: entry counts and the closing sequence.
#include "vm/vm_gate.h"

#include <algorithm>

#include "launcher/process_state.h"
#include "launcher/trace.h"

namespace qlx {

void VmGate::open(JavaVM* vm) {
  LockGuard lock(mutex_);
  open_ = vm;
  closing_ = false;
  destroying_ = false;
  closed_.erase(std::remove(closed_.begin(), closed_.end(), vm), closed_.end());
}

VmGate::Entry VmGate::enter(JavaVM* vm, bool daemon) {
  LockGuard lock(mutex_);
  if (vm == nullptr) return Entry::Foreign;
  if (vm != open_) {
    return std::find(closed_.begin(), closed_.end(), vm) != closed_.end() ? Entry::Refused
                                                                          : Entry::Foreign;
  }
  if (closing_) return Entry::Refused;
  ++users_;
  if (daemon) ++daemonUsers_;
  return Entry::Entered;
}

void VmGate::leave(bool daemon, JavaVM* attachedVm) {
  LockGuard lock(mutex_);
  // Under the lock, so that the destruction cannot begin halfway.
  if (attachedVm != nullptr && !destroying_) attachedVm->DetachCurrentThread();
  --users_;
  if (daemon) --daemonUsers_;
  left_.notifyAll();
}

void VmGate::close(JavaVM* vm, uint32_t daemonWaitMs) {
  std::vector<void (*)()> listeners;
  {
    LockGuard lock(mutex_);
    if (vm == nullptr || vm != open_) return;
    closing_ = true;
    closed_.push_back(vm);
    listeners = listeners_;
  }
  for (void (*listener)() : listeners) listener();
  LockGuard lock(mutex_);
  while (users_ != daemonUsers_) left_.wait(mutex_);
  const uint64_t deadline = monotonicMs() + daemonWaitMs;
  for (uint64_t now = monotonicMs(); users_ != 0 && now < deadline; now = monotonicMs()) {
    left_.waitFor(mutex_, static_cast<uint32_t>(deadline - now));
  }
  open_ = nullptr;
}

void VmGate::beginDestroy() {
  LockGuard lock(mutex_);
  destroying_ = true;
}

bool VmGate::occupied() {
  LockGuard lock(mutex_);
  return users_ != 0;
}

void VmGate::addClosingListener(void (*listener)()) {
  LockGuard lock(mutex_);
  if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end())
    listeners_.push_back(listener);
}

VmGate& vmGate() {
  std::atomic<VmGate*>& shared = processState().vmGate;
  if (VmGate* gate = shared.load()) return *gate;
  // Never destroyed: a thread may still knock while the process exits.
  VmGate* const own = new VmGate;
  VmGate* expected = nullptr;
  if (!shared.compare_exchange_strong(expected, own)) delete own;  // another thread was first
  return *shared.load();
}

}  // namespace qlx
