// Two pieces of the C++ runtime that the stub supplies itself, because the
// library's own versions would bring their exception machinery and a POSIX
// thread layer along (about 30 KB): the global operator new and delete, and
// the guards of function-local statics. And pieces of the C runtime's
// start-up that have nothing to do in the stub: the pseudo-relocation pass,
// the math error reporter it hands the C library (the stub calls no math
// function, so that library never reports one), the bookkeeping of
// per-thread destructors in its TLS callback (nothing registers one), and
// the translation of unhandled faults into C signals (nothing installs a
// signal handler for them).
//
// The launcher catches no exception, so running out of memory ends the
// process with one line, as the library's throw helpers do here
// (startup_win.cpp).
#include <cstdio>
#include <cstdlib>
#include <new>

#include "launcher/threading.h"

void* operator new(std::size_t size) {
  if (void* memory = std::malloc(size != 0 ? size : 1)) return memory;
  std::fputs("qlx: internal error: out of memory\n", stderr);
  std::fflush(stderr);
  std::abort();
}

void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size != 0 ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size != 0 ? size : 1);
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }

// The guard of a function-local static: its first byte tells the compiled
// code that the object is built, the second that some thread is building
// it. Threads that come meanwhile wait for the end of that construction.
// One lock serves every guard: it is held only to look at and change the
// two bytes, never during a construction, so a construction may itself
// build other statics.
namespace {

qlx::Lock gGuardLock;
qlx::Condition gGuardChanged;

unsigned char* bytesOf(long long* guard) { return reinterpret_cast<unsigned char*>(guard); }

}  // namespace

extern "C" int __cxa_guard_acquire(long long* guard) {
  unsigned char* bytes = bytesOf(guard);
  if (__atomic_load_n(&bytes[0], __ATOMIC_ACQUIRE) != 0) return 0;
  qlx::LockGuard lock(gGuardLock);
  for (;;) {
    if (bytes[0] != 0) return 0;
    if (bytes[1] == 0) {
      bytes[1] = 1;  // this thread builds the object
      return 1;
    }
    gGuardChanged.wait(gGuardLock);
  }
}

extern "C" void __cxa_guard_release(long long* guard) {
  unsigned char* bytes = bytesOf(guard);
  {
    qlx::LockGuard lock(gGuardLock);
    bytes[1] = 0;
    __atomic_store_n(&bytes[0], 1, __ATOMIC_RELEASE);
  }
  gGuardChanged.notifyAll();
}

extern "C" void __cxa_guard_abort(long long* guard) {
  {
    qlx::LockGuard lock(gGuardLock);
    bytesOf(guard)[1] = 0;
  }
  gGuardChanged.notifyAll();
}

// The C runtime's start-up patches the references to data that the linker
// imported from a DLL without the code asking for it. The stub is linked
// with such imports refused (launcher/CMakeLists.txt), so there is never
// anything to patch, and the runtime's pass (with its section walking and
// its error reporting, about 2.5 KB) stays out.
extern "C" void _pei386_runtime_relocator() {}

// The C runtime's own reporter prints the error's name and arguments; with
// no math function called it would never run, but its texts take room.
struct _exception;
extern "C" int __cdecl _matherr(struct _exception*) { return 0; }

// The C runtime's TLS callback keeps a list of per-thread destructors for
// its thread-local storage; the stub registers none (were one registered,
// the runtime's own callback would be linked too, and the link would fail
// on the second definition). What remains is the floating-point reset
// every new thread of the process gets.
extern "C" void __cdecl _fpreset(void);
extern "C" int __stdcall __mingw_TLScallback(void*, unsigned long reason, void*) {
  constexpr unsigned long kThreadAttach = 2;  // DLL_THREAD_ATTACH
  if (reason == kThreadAttach) _fpreset();
  return 1;
}

// The C runtime's start-up makes this the process's filter for unhandled
// faults and keeps the filter it replaced. The runtime's own version first
// offers a fault to a C signal handler of SIGSEGV, SIGILL or SIGFPE; the
// stub installs none, so what remains is passing the fault on.
extern "C" {
long(__stdcall* __mingw_oldexcpt_handler)(void*) = nullptr;
long __stdcall _gnu_exception_handler(void* pointers) {
  constexpr long kContinueSearch = 0;  // EXCEPTION_CONTINUE_SEARCH
  return __mingw_oldexcpt_handler != nullptr ? __mingw_oldexcpt_handler(pointers)
                                             : kContinueSearch;
}
}
