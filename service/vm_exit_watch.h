// Knowing the exit code when the VM ends the process (vm_exit_watch_win.cpp).
//
// System.exit ends the process inside the VM. HotSpot first calls the JNI
// "exit" hook with the code; other VMs (Avian) ignore that hook and call
// the C runtime's exit themselves, where the launcher's exit handlers run
// without learning the code. Routing the VM library's own imports of the
// calls that end a process through the launcher makes the code known on
// every VM that ends the process in order, whatever hooks it honours.
#pragma once

#include <jni.h>

#include <string>

namespace qlx {

using VmExitObserver = void (*)(int code);

// The library that holds `vm`'s invocation functions (null when unknown).
void* moduleOfVm(JavaVM* vm);
// Its file path; empty when unknown.
std::string modulePath(void* module);

// Points the module's imports of exit, _exit and ExitProcess at the
// launcher, which calls `observer` once with the code and then the function
// the module imported. False when it imports none of them.
bool observeVmExit(void* module, VmExitObserver observer);

}  // namespace qlx
