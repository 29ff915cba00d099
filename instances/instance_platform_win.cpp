// The instances platform on Windows: the table in the executable's shared
// section or in a named mapping; an unnamed mutex and a manual-reset event
// that the owner creates and every other instance duplicates from the
// owner's process; PulseEvent to wake the waiters. A pulse reaches only
// threads that wait at that moment, so each instance also has an
// auto-reset event named after its process id, which the two ends of a
// transfer set for each other: no hand-off waits for a time-out.
#include "instances/instance_platform.h"
#include "launcher/handle_win.h"
#include "resources/shared_section.h"

namespace qlx {

namespace {

constexpr DWORD kMappingSize = 4096;
constexpr DWORD kQueryAccess = PROCESS_QUERY_INFORMATION | PROCESS_DUP_HANDLE;
constexpr DWORD kOwnerAccess = SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_DUP_HANDLE;

std::string wakeEventName(uint32_t id) { return "qlx.instance.wake." + std::to_string(id); }

bool stillActive(HANDLE process) {
  DWORD code = 0;
  return process != nullptr && GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
}

class WindowsInstancePlatform : public InstancePlatform {
 public:
  WindowsInstancePlatform(InstanceTable* table, ScopedKernelHandle mapping)
      : table_(table),
        mapping_(std::move(mapping)),
        wake_(CreateEventA(nullptr, FALSE, FALSE, wakeEventName(GetCurrentProcessId()).c_str())) {}
  ~WindowsInstancePlatform() override { releaseTable(); }

  InstanceTable* table() override { return table_; }
  uint32_t ownProcessId() override { return GetCurrentProcessId(); }

  bool isAlive(uint32_t id) override {
    if (id == 0) return false;
    ScopedKernelHandle process(OpenProcess(kQueryAccess, FALSE, id));
    return stillActive(process.get());
  }

  bool hasSyncObjects() override { return mutex_.valid() && event_.valid(); }

  void createSyncObjects() override {
    mutex_.reset(CreateMutexA(nullptr, FALSE, nullptr));
    event_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  }

  void publishedValues(uint64_t& mutexValue, uint64_t& eventValue) override {
    mutexValue = reinterpret_cast<uintptr_t>(mutex_.get());
    eventValue = reinterpret_cast<uintptr_t>(event_.get());
  }

  void attachOwner(uint32_t ownerId, uint64_t mutexValue, uint64_t eventValue) override {
    owner_.reset(OpenProcess(kOwnerAccess, FALSE, ownerId));
    if (!owner_) return;
    // The objects stay the first owner's for the life of every instance.
    if (!mutex_) mutex_.reset(duplicate(mutexValue, SYNCHRONIZE | MUTEX_MODIFY_STATE));
    if (!event_) event_.reset(duplicate(eventValue, SYNCHRONIZE | EVENT_MODIFY_STATE));
  }

  bool attachedOwnerRunning() override { return stillActive(owner_.get()); }
  void detachOwner() override { owner_.reset(); }

  bool lockSlot() override {
    if (!mutex_) return false;
    const DWORD result = WaitForSingleObject(mutex_.get(), INFINITE);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
  }
  void unlockSlot() override { ReleaseMutex(mutex_.get()); }

  void signalChange() override {
    if (event_) PulseEvent(event_.get());
    table_->changeCounter.fetch_add(1);
  }

  void waitForChange(int32_t lastSeen, uint32_t timeoutMs) override {
    if (table_->changeCounter.load() != lastSeen) return;
    HANDLE handles[3];
    DWORD count = 0;
    if (event_) handles[count++] = event_.get();
    if (owner_) handles[count++] = owner_.get();  // every instance wakes when the owner ends
    if (wake_) handles[count++] = wake_.get();
    if (count == 0) {
      Sleep(timeoutMs);
      return;
    }
    WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
  }

  void wake(uint32_t id) override {
    if (id == GetCurrentProcessId()) {
      if (wake_) SetEvent(wake_.get());
      return;
    }
    ScopedKernelHandle other(OpenEventA(EVENT_MODIFY_STATE, FALSE, wakeEventName(id).c_str()));
    if (other) SetEvent(other.get());
  }

  void releaseTable() override {
    if (mapping_) {
      UnmapViewOfFile(const_cast<InstanceTable*>(table_));
      mapping_.reset();
    }
  }

 private:
  HANDLE duplicate(uint64_t value, DWORD access) {
    HANDLE mine = nullptr;
    if (!DuplicateHandle(owner_.get(), reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value)),
                         GetCurrentProcess(), &mine, access, FALSE, DUPLICATE_SAME_ACCESS)) {
      return nullptr;
    }
    return mine;
  }

  InstanceTable* table_;
  ScopedKernelHandle mapping_;  // only for a named table
  ScopedKernelHandle mutex_;
  ScopedKernelHandle event_;
  ScopedKernelHandle owner_;
  ScopedKernelHandle wake_;  // this process's receiver wakes on it
};

}  // namespace

std::string instanceMappingName(const std::string& appid) {
  std::string name = appid;
  for (char& c : name) {
    if (c == '\\') c = '.';
  }
  return name + ".qlx.mapping";
}

std::unique_ptr<InstancePlatform> openInstancePlatform(const std::string& appid) {
  if (appid.empty()) {
    return std::make_unique<WindowsInstancePlatform>(tableAt(sharedSectionMemory()),
                                                     ScopedKernelHandle());
  }
  ScopedKernelHandle mapping(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                kMappingSize, instanceMappingName(appid).c_str()));
  if (!mapping) return nullptr;
  void* view = MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, kMappingSize);
  if (view == nullptr) return nullptr;
  return std::make_unique<WindowsInstancePlatform>(tableAt(view), std::move(mapping));
}

}  // namespace qlx
