// The VM library's calls that end the process, routed through the launcher:
// its import table is rewritten in memory, entry by entry, so each call
// lands here first with the exit code and then goes on to the function the
// library imported. Nothing else of the library changes.
#include "service/vm_exit_watch.h"

#include <atomic>
#include <cstring>
#include <type_traits>

#include "launcher/win32.h"

namespace qlx {
namespace {

using CrtExit = void(__cdecl*)(int);
using KernelExit = void(WINAPI*)(UINT);

std::atomic<VmExitObserver> gObserver{nullptr};
std::atomic<bool> gObserved{false};
CrtExit gExit = nullptr;
CrtExit gQuickExit = nullptr;
KernelExit gExitProcess = nullptr;

void observe(int code) {
  if (gObserved.exchange(true)) return;
  if (VmExitObserver observer = gObserver.load()) observer(code);
}

void __cdecl exitThroughLauncher(int code) {
  observe(code);
  gExit(code);
}

void __cdecl quickExitThroughLauncher(int code) {
  observe(code);
  gQuickExit(code);
}

void WINAPI exitProcessThroughLauncher(UINT code) {
  observe(static_cast<int>(code));
  gExitProcess(code);
}

// The import slot's new target, remembering the old one; null to leave the
// slot alone (a name we do not watch, or a second library exporting it).
void* replacementFor(const char* name, void* current) {
  auto take = [current](auto& original, auto replacement) -> void* {
    using Pointer = std::remove_reference_t<decltype(original)>;
    if (original == nullptr) original = reinterpret_cast<Pointer>(current);
    return original == reinterpret_cast<Pointer>(current) ? reinterpret_cast<void*>(replacement)
                                                          : nullptr;
  };
  if (std::strcmp(name, "exit") == 0) return take(gExit, &exitThroughLauncher);
  if (std::strcmp(name, "_exit") == 0) return take(gQuickExit, &quickExitThroughLauncher);
  if (std::strcmp(name, "ExitProcess") == 0) return take(gExitProcess, &exitProcessThroughLauncher);
  return nullptr;
}

bool redirectSlot(ULONG_PTR* slot, void* target) {
  DWORD old = 0;
  if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old)) return false;
  *slot = reinterpret_cast<ULONG_PTR>(target);
  VirtualProtect(slot, sizeof *slot, old, &old);
  return true;
}

}  // namespace

void* moduleOfVm(JavaVM* vm) {
  if (vm == nullptr || vm->functions == nullptr) return nullptr;
  HMODULE module = nullptr;
  const auto address = reinterpret_cast<LPCSTR>(reinterpret_cast<void*>(vm->functions->DestroyJavaVM));
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          address, &module))
    return nullptr;
  return module;
}

std::string modulePath(void* module) {
  if (module == nullptr) return std::string();
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(static_cast<HMODULE>(module), path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  return std::string(path, length);
}

bool observeVmExit(void* module, VmExitObserver observer) {
  if (module == nullptr) return false;
  auto* base = static_cast<BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return false;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) return false;
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return false;
  gObserver = observer;
  bool any = false;
  for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       d->Name != 0; ++d) {
    // Without the name table the slots cannot be told apart.
    if (d->OriginalFirstThunk == 0 || d->FirstThunk == 0) continue;
    const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* byName =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      void* target = replacementFor(reinterpret_cast<const char*>(byName->Name),
                                    reinterpret_cast<void*>(slots->u1.Function));
      if (target != nullptr && redirectSlot(&slots->u1.Function, target)) any = true;
    }
  }
  return any;
}

}  // namespace qlx
