// The instances platform on Windows: the table in a named mapping, with a
// named slot mutex and change event beside it, and an auto-reset wake event
// per process (a pulse reaches only threads that wait at that moment; the
// two ends of a transfer set each other's wake event, so no hand-off waits
// for a time-out).
//
// Every process of the table's user may write into the table and so reach
// the instances' receivers; no other user may. So the objects live in the
// session's namespace, their names carry the user's SID and either the
// application id or the identity of the executable file (volume and file
// index: a copy under another path shares nothing), and each is created with
// its owner set to the user and a DACL that grants the user alone. An object
// that already exists under one of the names but is owned by someone else
// (the mapping, the mutex, the change event or this process's wake event)
// makes the table unusable: it is not used. No handle is taken from another
// process, and every wait on an object that a peer can hold or signal is
// bounded.

#include <vector>

#include "instances/instance_platform.h"
#include "launcher/handle_win.h"
#include "launcher/text.h"
#include "launcher/user_security_win.h"

namespace qlx {

namespace {

constexpr DWORD kMappingSize = 4096;
constexpr DWORD kQueryAccess = PROCESS_QUERY_LIMITED_INFORMATION;
constexpr DWORD kOwnerAccess = SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION;
// The mutex guards a few field writes; a holder that keeps it longer is
// stuck or hostile, and the slot is then claimed later.
constexpr DWORD kSlotLockMs = 2000;
// How often a receiver without any object to wait on looks at the table.
constexpr DWORD kNoObjectsPollMs = 250;

bool stillActive(HANDLE process) {
  DWORD code = 0;
  return process != nullptr && GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
}

// Eight hex digits; printf's family would bring the runtime's large
// formatter into the executable.
std::string hex8(DWORD value) {
  std::string text(8, '0');
  for (int i = 7; i >= 0; --i, value >>= 4) text[i] = "0123456789abcdef"[value & 15];
  return text;
}

// Volume serial number and file index of the running executable.
std::string executableIdentity() {
  char path[MAX_PATH * 2];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
  if (length == 0 || length >= sizeof(path)) return std::string();
  ScopedKernelHandle file(CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!file || !GetFileInformationByHandle(file.get(), &info)) return std::string();
  return "exe." + hex8(info.dwVolumeSerialNumber) + "-" + hex8(info.nFileIndexHigh) +
         hex8(info.nFileIndexLow);
}

std::string wakeName(const std::string& base, uint32_t id) {
  return base + ".wake." + decimalText(id);
}

class WindowsInstancePlatform : public InstancePlatform {
 public:
  WindowsInstancePlatform(InstanceTable* table, ScopedKernelHandle mapping, std::string base,
                          ScopedKernelHandle mutex, ScopedKernelHandle event, ScopedKernelHandle wake)
      : table_(table), mapping_(std::move(mapping)), base_(std::move(base)),
        mutex_(std::move(mutex)), event_(std::move(event)), wake_(std::move(wake)) {}
  ~WindowsInstancePlatform() override { releaseTable(); }

  InstanceTable* table() override { return table_; }
  uint32_t ownProcessId() override { return GetCurrentProcessId(); }

  bool isAlive(uint32_t id) override {
    if (id == 0) return false;
    ScopedKernelHandle process(OpenProcess(kQueryAccess, FALSE, id));
    return stillActive(process.get());
  }

  // The objects are named: every instance opens them itself.
  bool hasSyncObjects() override { return mutex_.valid() && event_.valid(); }
  void createSyncObjects() override {}

  // Kept in the table for its layout; no instance takes handles from it.
  void publishedValues(uint64_t& mutexValue, uint64_t& eventValue) override {
    mutexValue = reinterpret_cast<uintptr_t>(mutex_.get());
    eventValue = reinterpret_cast<uintptr_t>(event_.get());
  }

  // Only to wake when the owner ends; waits on it are bounded.
  void attachOwner(uint32_t ownerId, uint64_t, uint64_t) override {
    owner_.reset(OpenProcess(kOwnerAccess, FALSE, ownerId));
  }

  bool attachedOwnerRunning() override { return stillActive(owner_.get()); }
  bool watchesOwner() override { return owner_.valid(); }
  void detachOwner() override { owner_.reset(); }

  bool lockSlot() override {
    if (!mutex_) return false;
    const DWORD result = WaitForSingleObject(mutex_.get(), kSlotLockMs);
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
      // Nothing could signal this process: look again now and then.
      Sleep(timeoutMs < kNoObjectsPollMs ? timeoutMs : kNoObjectsPollMs);
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
  std::string wakeEventName(uint32_t id) const { return wakeName(base_, id); }

  InstanceTable* table_;
  ScopedKernelHandle mapping_;
  std::string base_;
  ScopedKernelHandle mutex_;
  ScopedKernelHandle event_;
  ScopedKernelHandle owner_;
  ScopedKernelHandle wake_;  // this process's receiver wakes on it
};

// "Local\qlx.<SID>.<identity>": the session's namespace, the user, the table.
std::string objectBase(const std::string& sid, const std::string& appid) {
  std::string identity = appid;
  if (!identity.empty()) {
    for (char& c : identity) {
      if (c == '\\') c = '.';
    }
    identity = "app." + identity;
  } else {
    identity = executableIdentity();
    if (identity.empty()) return std::string();
  }
  return "Local\\qlx." + sid + "." + identity;
}

}  // namespace

std::string instanceMappingName(const std::string& appid) {
  UserSid user;
  if (!currentUserSid(user)) return std::string();
  const std::string base = objectBase(user.text, appid);
  return base.empty() ? std::string() : base + ".qlx.mapping";
}

namespace {

enum class ObjectKind { Mapping, Mutex, ManualEvent, AutoEvent };

// An object made under `name`, or the one there already when it is the
// user's own; empty otherwise.
ScopedKernelHandle ownObject(ObjectKind kind, const std::string& name, const UserSid& user,
                             SECURITY_ATTRIBUTES* attributes, std::string& problem) {
  HANDLE made;
  switch (kind) {
    case ObjectKind::Mapping:
      made = CreateFileMappingA(INVALID_HANDLE_VALUE, attributes, PAGE_READWRITE, 0, kMappingSize,
                                name.c_str());
      break;
    case ObjectKind::Mutex:
      made = CreateMutexA(attributes, FALSE, name.c_str());
      break;
    default:
      made = CreateEventA(attributes, kind == ObjectKind::ManualEvent, FALSE, name.c_str());
      break;
  }
  ScopedKernelHandle object(made);
  const DWORD error = GetLastError();
  if (!object) {
    problem = "cannot create " + name;
  } else if (error == ERROR_ALREADY_EXISTS &&
             ownerTrust(object.get(), SE_KERNEL_OBJECT, user, false) != OwnerTrust::Trusted) {
    problem = name + " belongs to another user";
    object.reset();
  }
  return object;
}

}  // namespace

std::unique_ptr<InstancePlatform> openInstancePlatform(const std::string& appid,
                                                       std::string& problem) {
  UserSid user;
  if (!currentUserSid(user)) {
    problem = "the user of this process cannot be read";
    return nullptr;
  }
  const std::string base = objectBase(user.text, appid);
  UserOnlySecurity security(user);
  if (base.empty() || !security.ok()) {
    problem = "the table's name or protection cannot be made";
    return nullptr;
  }
  SECURITY_ATTRIBUTES* attributes = security.attributes();
  ScopedKernelHandle mapping =
      ownObject(ObjectKind::Mapping, base + ".qlx.mapping", user, attributes, problem);
  ScopedKernelHandle mutex, event, wake;
  if (mapping) {
    mutex = ownObject(ObjectKind::Mutex, base + ".slot.qlx.mutex", user, attributes, problem);
  }
  if (mutex) event = ownObject(ObjectKind::ManualEvent, base + ".change", user, attributes, problem);
  if (event) {
    wake = ownObject(ObjectKind::AutoEvent, wakeName(base, GetCurrentProcessId()), user, attributes,
                     problem);
  }
  if (!wake) return nullptr;
  void* view = MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, kMappingSize);
  if (view == nullptr) {
    problem = "cannot map " + base + ".qlx.mapping";
    return nullptr;
  }
  return std::make_unique<WindowsInstancePlatform>(tableAt(view), std::move(mapping), base,
                                                   std::move(mutex), std::move(event),
                                                   std::move(wake));
}

}  // namespace qlx
