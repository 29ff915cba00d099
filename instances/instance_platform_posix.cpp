// The instances platform on Linux: the table in POSIX shared memory private
// to the user, a process-shared robust mutex for the slot and a futex on the
// change counter instead of an event (a waiter that compares the counter
// inside the kernel can never miss a wake-up).
//
// Names: "qlx-<uid>-app-<appid>" for an application id (characters other
// than letters, digits, '.', '_' and '-' become '_', with a hash of the id
// so different ids never meet), "qlx-<uid>-exe-<dev>-<inode>" for the
// executable file itself, so copies under another path share nothing.
//
// The object lives in /dev/shm, where any user can create a file under any
// name first. A file there under our name that belongs to someone else is
// never used: root removes it and makes its own; another user moves to its
// runtime directory (/run/user/<uid>, which only it can write), where its
// instances look first; without one, instance services are unavailable and
// the reason is told.
//
// Liveness: a process id counts as alive while /proc shows it running and
// not a zombie; each instance also records its start time beside the table,
// so an id that the system gave to another process since is not taken for
// the instance that had it.
//
// Removal: the records also tell who still uses the object. An instance that
// leaves (at the end of the run, or at exit when the VM ends the process)
// drops its record under the slot mutex; when no record of a live process
// remains it marks the object closed and unlinks its name. An instance that
// opens the object records itself under the same mutex, and one that finds
// the object closed opens the name afresh.
#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>

#include "instances/instance_platform.h"

namespace qlx {

namespace {

constexpr size_t kRegionSize = 8192;
constexpr size_t kSyncOffset = 2112;
constexpr int kStartSlots = 256;
// Leaving takes the slot mutex; at exit or in a crashing VM its holder may
// be this very thread, so the wait is bounded and the table then stays.
constexpr long kLeaveLockMs = 1000;

struct StartRecord {
  std::atomic<uint32_t> pid;
  std::atomic<uint64_t> startTime;
};

struct PosixSync {
  std::atomic<int32_t> initState;  // 0 none, 1 being made, 2 ready
  pthread_mutex_t mutex;
  StartRecord starts[kStartSlots];
  std::atomic<int32_t> closed;  // the name was unlinked: open a new object
};
static_assert(kSyncOffset >= kTableSize && kSyncOffset + sizeof(PosixSync) <= kRegionSize,
              "the synchronisation block follows the table");

// "running" with its start time (clock ticks since boot); false when the id
// is free or a zombie.
bool processState(uint32_t pid, uint64_t& startTime) {
  char path[64];
  std::snprintf(path, sizeof(path), "/proc/%u/stat", pid);
  FILE* file = std::fopen(path, "re");
  if (file == nullptr) return false;
  char buffer[1024];
  const size_t length = std::fread(buffer, 1, sizeof(buffer) - 1, file);
  std::fclose(file);
  buffer[length] = '\0';
  const char* at = std::strrchr(buffer, ')');  // the command name may hold anything
  if (at == nullptr) return false;
  ++at;
  char state = 0;
  for (int field = 3; field <= 22 && *at != '\0'; ++field) {
    while (*at == ' ') ++at;
    if (field == 3) state = *at;
    if (field == 22) {
      startTime = std::strtoull(at, nullptr, 10);
      return state != 'Z' && state != 'X' && state != 'x';
    }
    while (*at != ' ' && *at != '\0') ++at;
  }
  return false;
}

long futex(std::atomic<int32_t>* word, int op, int32_t value, const timespec* timeout) {
  return syscall(SYS_futex, reinterpret_cast<int*>(word), op, value, timeout, nullptr, 0);
}

std::string sanitized(const std::string& text) {
  std::string out;
  uint32_t hash = 2166136261u;
  for (unsigned char c : text) {
    hash = (hash ^ c) * 16777619u;
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '_' || c == '-';
    if (out.size() < 160) out += plain ? static_cast<char>(c) : '_';
  }
  char tail[16];
  std::snprintf(tail, sizeof(tail), "-%08x", hash);
  return out + tail;
}

class PosixInstancePlatform : public InstancePlatform {
 public:
  PosixInstancePlatform(void* region, int fd, std::string path)
      : region_(static_cast<unsigned char*>(region)), fd_(fd), path_(std::move(path)),
        sync_(reinterpret_cast<PosixSync*>(region_ + kSyncOffset)) {
    prepareMutex();
  }
  ~PosixInstancePlatform() override { releaseTable(); }

  // Records this process as a user of the object; false when the object was
  // closed meanwhile and the name must be opened again.
  bool join() {
    const bool locked = lockSlot();
    const bool open = sync_->closed.load() == 0;
    if (open) recordOwnStart();
    if (locked) unlockSlot();
    left_ = !open;  // a closed object's name may already be another's
    return open;
  }

  // Leaves the object; the last live user unlinks its name. The memory stays
  // mapped: at exit other threads may still read it.
  void leaveAtExit() override { leave(); }
  bool outlivesProcess() const override { return true; }

  void leave() {
    if (left_) return;
    left_ = true;
    const uint32_t own = ownProcessId();
    if (!lockSlotWithin(kLeaveLockMs)) return;
    bool others = false;
    for (StartRecord& record : sync_->starts) {
      const uint32_t pid = record.pid.load();
      if (pid == own) {
        record.pid.store(0);
      } else if (pid != 0 && isAlive(pid)) {
        others = true;
      }
    }
    if (!others && sync_->closed.load() == 0) {
      sync_->closed.store(1);
      unlink(path_.c_str());
    }
    unlockSlot();
  }

  InstanceTable* table() override { return reinterpret_cast<InstanceTable*>(region_); }
  uint32_t ownProcessId() override { return static_cast<uint32_t>(getpid()); }

  bool isAlive(uint32_t id) override {
    if (id == 0 || id > static_cast<uint32_t>(INT_MAX)) return false;
    uint64_t start = 0;
    if (!processState(id, start)) return false;
    for (StartRecord& record : sync_->starts) {
      if (record.pid.load() == id) return record.startTime.load() == start;
    }
    return true;
  }

  // The objects live in the shared block itself: every instance has them.
  bool hasSyncObjects() override { return true; }
  void createSyncObjects() override {}
  void publishedValues(uint64_t& mutexValue, uint64_t& eventValue) override {
    mutexValue = kSyncOffset;
    eventValue = offsetof(InstanceTable, changeCounter);
  }
  void attachOwner(uint32_t ownerId, uint64_t, uint64_t) override { owner_ = ownerId; }
  bool attachedOwnerRunning() override { return owner_ != 0 && isAlive(owner_); }
  void detachOwner() override { owner_ = 0; }

  bool lockSlot() override {
    const int result = pthread_mutex_lock(&sync_->mutex);
    if (result == EOWNERDEAD) {
      // Its holder died inside the test-and-set; the slot fields are whole.
      pthread_mutex_consistent(&sync_->mutex);
      return true;
    }
    return result == 0;
  }
  void unlockSlot() override { pthread_mutex_unlock(&sync_->mutex); }

  bool lockSlotWithin(long ms) {
    timespec until{};
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += ms / 1000;
    until.tv_nsec += (ms % 1000) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
      until.tv_sec += 1;
      until.tv_nsec -= 1000000000L;
    }
    const int result = pthread_mutex_timedlock(&sync_->mutex, &until);
    if (result == EOWNERDEAD) pthread_mutex_consistent(&sync_->mutex);
    return result == 0 || result == EOWNERDEAD;
  }

  void signalChange() override {
    table()->changeCounter.fetch_add(1);
    futex(&table()->changeCounter, FUTEX_WAKE, INT_MAX, nullptr);
  }

  void waitForChange(int32_t lastSeen, uint32_t timeoutMs) override {
    timespec timeout{static_cast<time_t>(timeoutMs / 1000),
                     static_cast<long>(timeoutMs % 1000) * 1000000L};
    futex(&table()->changeCounter, FUTEX_WAIT, lastSeen,
          timeoutMs == kWaitForever ? nullptr : &timeout);
  }

  // The futex compares the counter in the kernel: no signalled change is
  // ever missed, so waking one instance needs nothing more, except this
  // process's own receiver when it is to stop.
  void wake(uint32_t id) override {
    if (id == ownProcessId()) futex(&table()->changeCounter, FUTEX_WAKE, INT_MAX, nullptr);
  }

  void releaseTable() override {
    if (region_ == nullptr) return;
    leave();
    munmap(region_, kRegionSize);
    close(fd_);
    region_ = nullptr;
  }

 private:
  void prepareMutex() {
    int32_t expected = 0;
    if (sync_->initState.compare_exchange_strong(expected, 1)) {
      initMutex();
      return;
    }
    // Another instance is making it; one that died doing so is replaced.
    for (int i = 0; i < 2000 && sync_->initState.load() != 2; ++i) usleep(1000);
    if (sync_->initState.load() != 2) initMutex();
  }

  void initMutex() {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(&sync_->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
    sync_->initState.store(2);
  }

  void recordOwnStart() {
    const uint32_t own = ownProcessId();
    uint64_t start = 0;
    if (!processState(own, start)) return;
    for (StartRecord& record : sync_->starts) {
      uint32_t pid = record.pid.load();
      uint64_t ignored = 0;
      const bool reusable = pid == 0 || pid == own || !processState(pid, ignored);
      if (reusable && record.pid.compare_exchange_strong(pid, own)) {
        record.startTime.store(start);
        return;
      }
    }
  }

  unsigned char* region_;
  int fd_;
  std::string path_;
  PosixSync* sync_;
  bool left_ = false;
  uint32_t owner_ = 0;
};

}  // namespace

std::string instanceMappingName(const std::string& appid) {
  const std::string user = "qlx-" + std::to_string(geteuid());
  if (!appid.empty()) return user + "-app-" + sanitized(appid);
  struct stat self;
  if (stat("/proc/self/exe", &self) != 0) return std::string();
  return user + "-exe-" + std::to_string(self.st_dev) + "-" + std::to_string(self.st_ino);
}

namespace {

enum class Opened { Ok, Squatted, Failed };

// Opens or creates the table file at `path` and joins it.
Opened openTable(const std::string& path, std::unique_ptr<InstancePlatform>& out, bool create,
                 std::string& problem) {
  // An object closed by its last user between our open and our record is
  // left for a fresh one under the same name.
  for (int attempt = 0; attempt < 8; ++attempt) {
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT : 0), 0600);
    struct stat info;
    if (fd < 0) {
      const int error = errno;
      // Someone else's file (or link) under our name cannot even be opened.
      if (lstat(path.c_str(), &info) == 0 && info.st_uid != geteuid()) {
        problem = path + " belongs to another user (uid " + std::to_string(info.st_uid) + ")";
        return Opened::Squatted;
      }
      problem = "cannot open " + path + ": " + std::strerror(error);
      return Opened::Failed;
    }
    if (fstat(fd, &info) != 0 || info.st_uid != geteuid()) {
      close(fd);
      problem = path + " belongs to another user (uid " + std::to_string(info.st_uid) + ")";
      return Opened::Squatted;
    }
    if (!S_ISREG(info.st_mode) || (info.st_mode & 077) != 0 ||
        (info.st_size < static_cast<off_t>(kRegionSize) && ftruncate(fd, kRegionSize) != 0)) {
      close(fd);
      problem = path + " is not a table this user alone can use";
      return Opened::Failed;
    }
    void* region = mmap(nullptr, kRegionSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (region == MAP_FAILED) {
      problem = "cannot map " + path + ": " + std::strerror(errno);
      close(fd);
      return Opened::Failed;
    }
    auto platform = std::make_unique<PosixInstancePlatform>(region, fd, path);
    if (platform->join()) {
      out = std::move(platform);
      return Opened::Ok;
    }
  }
  problem = path + " keeps being closed";
  return Opened::Failed;
}

// The user's own runtime directory, when it is the user's alone.
std::string runtimeDirectory() {
  const std::string path = "/run/user/" + std::to_string(geteuid());
  struct stat info;
  if (lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid() ||
      (info.st_mode & 077) != 0) {
    return std::string();
  }
  return path;
}

}  // namespace

std::unique_ptr<InstancePlatform> openInstancePlatform(const std::string& appid,
                                                       std::string& problem) {
  const std::string name = instanceMappingName(appid);
  if (name.empty()) {
    problem = "the program's own file cannot be found";
    return nullptr;
  }
  std::unique_ptr<InstancePlatform> platform;
  const std::string runtime = runtimeDirectory();
  const std::string moved = runtime.empty() ? std::string() : runtime + "/" + name;
  std::string ignored;
  // Once one instance had to move, the others follow it there.
  if (!moved.empty() && openTable(moved, platform, false, ignored) == Opened::Ok) return platform;
  const std::string shared = "/dev/shm/" + name;
  for (int attempt = 0; attempt < 4; ++attempt) {
    const Opened opened = openTable(shared, platform, true, problem);
    if (opened == Opened::Ok) return platform;
    if (opened == Opened::Failed) return nullptr;
    if (geteuid() != 0) break;
    unlink(shared.c_str());  // root may remove what another user put there
  }
  if (!moved.empty() && openTable(moved, platform, true, problem) == Opened::Ok) return platform;
  return nullptr;
}

}  // namespace qlx
