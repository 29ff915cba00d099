// The gate native threads pass to call into the Java VM. It counts the
// threads inside, refuses new ones once the VM's destruction has begun,
// and tells whether any thread may still be inside, so the VM library is
// never unloaded under a thread that runs its code.
//
// One gate serves the process (shared by both mappings of the launcher on
// Linux). VmThreadScope enters and leaves it; VmHost opens it when the VM
// exists and closes it before DestroyJavaVM.
#pragma once

#include <jni.h>

#include <cstdint>
#include <vector>

#include "launcher/threading.h"

namespace qlx {

class VmGate {
 public:
  enum class Entry {
    Entered,  // counted until leave()
    Refused,  // the VM is being destroyed or is gone
    Foreign,  // a VM this gate never saw: nothing to guard
  };

  void open(JavaVM* vm);
  Entry enter(JavaVM* vm, bool daemon);
  // `attachedVm` is the VM the thread attached to on entering, or null: it
  // is detached unless the VM's destruction has begun, when the thread
  // stays as it is rather than call into a dying VM.
  void leave(bool daemon, JavaVM* attachedVm);

  // Refuses every later entry, calls the closing listeners (outside the
  // lock), then waits until every non-daemon thread has left (the VM would
  // wait for those anyway) and daemon threads for at most daemonWaitMs.
  void close(JavaVM* vm, uint32_t daemonWaitMs);
  // Whether any thread is inside: after close, one that never left.
  bool occupied();
  // DestroyJavaVM is about to be called: no thread detaches from now on.
  void beginDestroy();

  // Called when the gate closes: whoever can make a thread leave the VM
  // (a modal loop it runs, for instance) makes it leave. At most a few.
  void addClosingListener(void (*listener)());

 private:
  Lock mutex_;
  Condition left_;
  JavaVM* open_ = nullptr;
  bool closing_ = false;
  bool destroying_ = false;
  std::vector<JavaVM*> closed_;
  int users_ = 0;
  int daemonUsers_ = 0;
  std::vector<void (*)()> listeners_;
};

VmGate& vmGate();

}  // namespace qlx
