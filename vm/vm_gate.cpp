// The VM gate: entry counts and the closing sequence.
#include "vm/vm_gate.h"

#include <algorithm>
#include <chrono>

#include "launcher/process_state.h"

namespace qlx {

void VmGate::open(JavaVM* vm) {
  std::lock_guard<std::mutex> lock(mutex_);
  open_ = vm;
  closing_ = false;
  destroying_ = false;
  closed_.erase(std::remove(closed_.begin(), closed_.end(), vm), closed_.end());
}

VmGate::Entry VmGate::enter(JavaVM* vm, bool daemon) {
  std::lock_guard<std::mutex> lock(mutex_);
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
  std::lock_guard<std::mutex> lock(mutex_);
  // Under the lock, so that the destruction cannot begin halfway.
  if (attachedVm != nullptr && !destroying_) attachedVm->DetachCurrentThread();
  --users_;
  if (daemon) --daemonUsers_;
  left_.notify_all();
}

void VmGate::close(JavaVM* vm, uint32_t daemonWaitMs) {
  std::vector<void (*)()> listeners;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (vm == nullptr || vm != open_) return;
    closing_ = true;
    closed_.push_back(vm);
    listeners = listeners_;
  }
  for (void (*listener)() : listeners) listener();
  std::unique_lock<std::mutex> lock(mutex_);
  left_.wait(lock, [this] { return users_ == daemonUsers_; });
  left_.wait_for(lock, std::chrono::milliseconds(daemonWaitMs), [this] { return users_ == 0; });
  open_ = nullptr;
}

void VmGate::beginDestroy() {
  std::lock_guard<std::mutex> lock(mutex_);
  destroying_ = true;
}

bool VmGate::occupied() {
  std::lock_guard<std::mutex> lock(mutex_);
  return users_ != 0;
}

void VmGate::addClosingListener(void (*listener)()) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end())
    listeners_.push_back(listener);
}

VmGate& vmGate() {
  std::atomic<VmGate*>& shared = processState().vmGate;
  if (VmGate* gate = shared.load()) return *gate;
  // Never destroyed: a thread may still knock while the process exits.
  static VmGate* const own = new VmGate;
  VmGate* expected = nullptr;
  shared.compare_exchange_strong(expected, own);
  return *shared.load();
}

}  // namespace qlx
