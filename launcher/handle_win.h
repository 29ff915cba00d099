// Owner of one Win32 handle. Each close function has its traits type, so a
// handle can only be released the way its kind requires. NULL and
// INVALID_HANDLE_VALUE both mean "no handle", since Win32 reports failure
// with either depending on the call. Closing keeps GetLastError intact so
// that an error can still be reported after the owner goes out of scope.
#pragma once

#include "launcher/win32.h"

namespace qlx {

template <typename Traits>
class ScopedHandle {
 public:
  using Handle = typename Traits::Handle;

  ScopedHandle() = default;
  explicit ScopedHandle(Handle handle) : handle_(handle) {}
  ~ScopedHandle() { close(); }

  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  bool valid() const { return isValid(handle_); }
  explicit operator bool() const { return valid(); }
  Handle get() const { return handle_; }

  // Gives up ownership without closing.
  Handle release() {
    Handle handle = handle_;
    handle_ = Traits::empty();
    return handle;
  }

  void reset(Handle handle = Traits::empty()) {
    if (handle == handle_) return;
    close();
    handle_ = handle;
  }

  static bool isValid(Handle handle) {
    return handle != Traits::empty() &&
           static_cast<const void*>(handle) != static_cast<const void*>(INVALID_HANDLE_VALUE);
  }

 private:
  void close() {
    if (isValid(handle_)) {
      DWORD saved = GetLastError();
      Traits::close(handle_);
      SetLastError(saved);
    }
    handle_ = Traits::empty();
  }

  Handle handle_ = Traits::empty();
};

struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle empty() { return nullptr; }
  static void close(Handle h) { CloseHandle(h); }
};

struct ServiceHandleTraits {
  using Handle = SC_HANDLE;
  static Handle empty() { return nullptr; }
  static void close(Handle h) { CloseServiceHandle(h); }
};

struct RegistryKeyTraits {
  using Handle = HKEY;
  static Handle empty() { return nullptr; }
  static void close(Handle h) { RegCloseKey(h); }
};

struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle empty() { return nullptr; }
  static void close(Handle h) { FindClose(h); }
};

struct LibraryTraits {
  using Handle = HMODULE;
  static Handle empty() { return nullptr; }
  static void close(Handle h) { FreeLibrary(h); }
};

struct MappedViewTraits {
  using Handle = const void*;
  static Handle empty() { return nullptr; }
  static void close(Handle h) { UnmapViewOfFile(h); }
};

struct EventSourceTraits {
  using Handle = HANDLE;
  static Handle empty() { return nullptr; }
  static void close(Handle h) { DeregisterEventSource(h); }
};

using ScopedKernelHandle = ScopedHandle<KernelHandleTraits>;
using ScopedServiceHandle = ScopedHandle<ServiceHandleTraits>;
using ScopedRegistryKey = ScopedHandle<RegistryKeyTraits>;
using ScopedFindHandle = ScopedHandle<FindHandleTraits>;
using ScopedLibrary = ScopedHandle<LibraryTraits>;
using ScopedMappedView = ScopedHandle<MappedViewTraits>;
using ScopedEventSource = ScopedHandle<EventSourceTraits>;

}  // namespace qlx
