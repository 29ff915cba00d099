// VmHost: the process-wide owner of the Java virtual machine: collected
// options, the VM library, the JavaVM and the creating thread's JNIEnv.
// Library calls live in vm_library_win.cpp (LoadLibraryA, SetDllDirectoryA,
// FormatMessageA) and vm_library_posix.cpp (dlopen).
#pragma once

#include <jni.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "launcher/os.h"

namespace qlx {

class VmHost {
 public:
  VmHost() = default;
  ~VmHost();  // shutdownVm()
  VmHost(const VmHost&) = delete;
  VmHost& operator=(const VmHost&) = delete;

  // extraInfo goes with the option to the VM. The VM takes one "exit"
  // hook: an "exit" option's function is kept as one of the exit hooks below.
  void addOption(const std::string& text, void* extraInfo = nullptr);
  // Options that must come before every other (the application's may
  // override them), in the given order.
  void prependOptions(const std::vector<std::string>& texts);
  const std::vector<std::string>& options() const { return options_; }

  // Work for the end of the VM, in a fixed order. End actions come first:
  // from the VM's exit hook (the process ends inside the VM: System.exit,
  // Runtime.halt, a signal), with true, and after DestroyJavaVM returns,
  // with false. Exit hooks follow, from the VM's exit hook only, with the
  // exit code. The VM ends the process once they return.
  using VmEndAction = void (*)(bool inExitHook);
  using ExitHook = void(JNICALL*)(jint code);
  void addVmEndAction(VmEndAction action);
  void addExitHook(ExitHook hook);
  // Work for a VM that aborts: its "abort" hook runs them, for a fatal
  // error, also one during creation (an option it cannot live with),
  // before the VM ends the process. The VM's "abort" option goes after
  // every other option, where it does not shift the application's.
  using AbortAction = void (*)();
  void addAbortAction(AbortAction action);

  // 0 loaded, 2 cannot be loaded (system error text already printed).
  int loadVmLibrary(const std::string& path, Os& os);
  // 0 created, 2 no library or no creation entry, 4 creation failed.
  int createVm(const std::string& path, Os& os);
  // Waits for the application's non-daemon threads, closes the VM gate,
  // then detaches, destroys the VM and unloads the library unless a thread
  // may still be inside. Safe to repeat.
  void shutdownVm();
  // How long daemon threads inside the VM get to leave once the gate closes.
  static constexpr uint32_t kDaemonLeaveMs = 2000;

  JavaVM* javaVm() const { return javaVm_.load(); }
  JNIEnv* env() const { return env_; }
  bool libraryLoaded() const { return library_ != nullptr; }

 private:
  std::vector<std::string> options_;
  std::vector<void*> extraInfo_;  // one per option
  std::vector<VmEndAction> endActions_;
  std::vector<ExitHook> exitHooks_;
  std::vector<AbortAction> abortActions_;
  void* library_ = nullptr;
  bool libraryKept_ = false;  // a thread may still run its code
  // Read by the service control handler on the dispatcher thread.
  std::atomic<JavaVM*> javaVm_{nullptr};
  JNIEnv* env_ = nullptr;
};

// The VM of the process while it exists (null before creation and after
// shutdownVm): what threads that call into Java attach to.
JavaVM* runningJavaVm();

// Platform side of library loading (vm_library_win.cpp / vm_library_posix.cpp).
// Loads with the loader measures of the platform (error mode, DLL directory,
// PATH fallback on Windows); on failure prints the system error text for
// `path` and returns null.
void* loadVmLibraryFile(const std::string& path, Os& os);
void* vmLibrarySymbol(void* library, const char* name);
void freeVmLibrary(void* library);
// The operating system's text for the last error, "%1" replaced by path,
// written with "%s\n" to stderr.
void reportSystemError(const std::string& path);

// The runtime directory of a VM library path: two path components cut off.
std::string runtimeDirectoryOf(const std::string& libraryPath);

// Replaces every "%1" in a system error text by `path` (not re-scanned).
std::string substituteInsert(const std::string& text, const std::string& path);

}  // namespace qlx
