// VmHost: collects the VM options, loads the VM library through the
// platform loader and creates, then ends, the one Java virtual machine of
// the process.
#include "vm/vm_host.h"

#include <vector>

#include "launcher/process_state.h"
#include "launcher/text.h"
#include "launcher/trace.h"
#include "vm/jni_glue.h"
#include "vm/vm_gate.h"

namespace qlx {

namespace {

// The Invocation API entry; JNICALL keeps the calling convention right for
// 32-bit builds of the same code.
using CreateJavaVmEntry = jint(JNICALL*)(JavaVM**, void**, void*);

// Read character by character: in a double-byte code page a trail byte
// may be 0x5C and is no separator.
std::string cutAtLastSeparator(const std::string& text) {
  const size_t pos = splitNarrowPath(text, isNarrowLeadByte).lastSeparator;
  return pos == std::string::npos ? text : text.substr(0, pos);
}

// The VM's exit hook carries no context: what it runs is kept here, for
// the one VM of the process.
struct VmEndWork {
  std::vector<VmHost::VmEndAction> actions;
  std::vector<VmHost::ExitHook> hooks;
};
VmEndWork& vmEndWork() {
  static VmEndWork work;
  return work;
}

void JNICALL runExitWork(jint code) {
  for (VmHost::VmEndAction action : vmEndWork().actions) action(true);
  for (VmHost::ExitHook hook : vmEndWork().hooks) hook(code);
}

}  // namespace

VmHost::~VmHost() { shutdownVm(); }

void VmHost::addOption(const std::string& text, void* extraInfo) {
  if (text == "exit" && extraInfo != nullptr) {
    addExitHook(reinterpret_cast<ExitHook>(extraInfo));
    return;
  }
  if (text == "abort" && extraInfo != nullptr) {
    abortHook_ = extraInfo;
    return;
  }
  options_.push_back(text);
  extraInfo_.push_back(extraInfo);
}

void VmHost::prependOptions(const std::vector<std::string>& texts) {
  options_.insert(options_.begin(), texts.begin(), texts.end());
  extraInfo_.insert(extraInfo_.begin(), texts.size(), nullptr);
}

void VmHost::addVmEndAction(VmEndAction action) { endActions_.push_back(action); }

void VmHost::addExitHook(ExitHook hook) { exitHooks_.push_back(hook); }

int VmHost::loadVmLibrary(const std::string& path, Os& os) {
  library_ = loadVmLibraryFile(path, os);
  return library_ != nullptr ? 0 : 2;
}

int VmHost::createVm(const std::string& path, Os& os) {
  if (library_ == nullptr) {
    const int result = loadVmLibrary(path, os);
    if (tracing()) trace(library_ ? "vm loaded " : "vm cannot load ", path.c_str());
    if (library_ == nullptr) return result;
  }
  // Older IBM runtimes export only the _Impl name.
  void* symbol = vmLibrarySymbol(library_, "JNI_CreateJavaVM");
  if (symbol == nullptr) symbol = vmLibrarySymbol(library_, "JNI_CreateJavaVM_Impl");
  if (symbol == nullptr) {
    if (tracing()) trace("vm library has no JNI_CreateJavaVM: not a Java VM");
    return 2;
  }
  const auto entry = reinterpret_cast<CreateJavaVmEntry>(symbol);

  std::vector<JavaVMOption> records(options_.size());
  for (size_t i = 0; i < options_.size(); ++i) {
    records[i].optionString = const_cast<char*>(options_[i].c_str());
    records[i].extraInfo = extraInfo_[i];
  }
  if (!endActions_.empty() || !exitHooks_.empty()) {
    vmEndWork() = VmEndWork{endActions_, exitHooks_};
    JavaVMOption hook{};
    hook.optionString = const_cast<char*>("exit");
    hook.extraInfo = reinterpret_cast<void*>(&runExitWork);
    records.push_back(hook);
  }
  if (abortHook_ != nullptr) {
    JavaVMOption hook{};
    hook.optionString = const_cast<char*>("abort");
    hook.extraInfo = abortHook_;
    records.push_back(hook);
  }
  JavaVMInitArgs args{};
  args.version = JNI_VERSION_1_2;
  args.nOptions = static_cast<jint>(records.size());
  args.options = records.empty() ? nullptr : records.data();
  // Unknown -X options of other vendors must not stop the start.
  args.ignoreUnrecognized = JNI_TRUE;

  if (tracing()) {
    for (const std::string& option : options_) trace("vm option ", option.c_str());
    // The stamp of this line is the launcher's own share of the start.
    trace("vm calling JNI_CreateJavaVM");
  }
  JavaVM* vm = nullptr;
  JNIEnv* env = nullptr;
  const jint rc = entry(&vm, reinterpret_cast<void**>(&env), &args);
  if (tracing() && rc == JNI_OK) trace("vm created");
  if (tracing() && rc != JNI_OK) {
    DecimalBuffer number;
    trace("vm creation failed, JNI_CreateJavaVM returned ", rc < 0 ? "-" : "",
          decimal(static_cast<uint64_t>(rc < 0 ? -rc : rc), number));
  }

  // The options are single-use: a VM is created at most once per process.
  records.clear();
  std::vector<std::string>().swap(options_);
  std::vector<void*>().swap(extraInfo_);

  if (rc != JNI_OK) {
    javaVm_ = nullptr;
    env_ = nullptr;
    return 4;
  }
  vmGate().open(vm);
  javaVm_ = vm;
  env_ = env;
  return 0;
}

void VmHost::shutdownVm() {
  if (JavaVM* vm = javaVm_.load()) {
    // While the application's own threads run, native threads may still
    // reach it (a stop control must); only then does the gate close, and
    // no thread enters the VM once DestroyJavaVM may be tearing it down.
    void* env = nullptr;
    if (vm->GetEnv(&env, JNI_VERSION_1_2) == JNI_OK && env != nullptr) {
      awaitApplicationThreads(static_cast<JNIEnv*>(env));
    }
    vmGate().close(vm, kDaemonLeaveMs);
    vmGate().beginDestroy();
    vm->DetachCurrentThread();
    vm->DestroyJavaVM();
    javaVm_ = nullptr;
    env_ = nullptr;
    for (VmEndAction action : endActions_) action(false);
  }
  if (library_ != nullptr && !libraryKept_) {
    // A daemon thread still inside the VM would return into unloaded code,
    // and stays attached to it: the library then stays for the rest of the
    // process.
    if (vmGate().occupied()) {
      libraryKept_ = true;
    } else {
      freeVmLibrary(library_);
      library_ = nullptr;
    }
  }
}

JavaVM* runningJavaVm() {
  VmHost* host = processState().vmHost;
  return host != nullptr ? host->javaVm() : nullptr;
}

std::string runtimeDirectoryOf(const std::string& libraryPath) {
  return cutAtLastSeparator(cutAtLastSeparator(libraryPath));
}

std::string substituteInsert(const std::string& text, const std::string& path) {
  std::string out;
  out.reserve(text.size() + path.size());
  size_t from = 0;
  for (size_t at = text.find("%1"); at != std::string::npos; at = text.find("%1", from)) {
    out.append(text, from, at - from);
    out += path;
    from = at + 2;
  }
  out.append(text, from, std::string::npos);
  return out;
}

}  // namespace qlx
