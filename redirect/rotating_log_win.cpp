// Windows side of rotated logs: the file operations of RotatingLog, a named
// mutex per log path as the rotation lock (in the session's namespace, its
// name carrying the user's SID, and only that user may open it), and the
// pipe with its draining thread.
//
// The pipe's reading end is overlapped so that the thread waits without
// holding the lock that finish() takes: every byte is read and written
// under that lock, and finish() can take over a read that has completed but
// not yet been written, in order.
#include <process.h>

#include <ctime>

#include "launcher/handle_win.h"
#include "launcher/text.h"
#include "launcher/trace.h"
#include "launcher/user_security_win.h"
#include "redirect/log_open.h"
#include "redirect/log_pump.h"

namespace qlx {

namespace {

// How long the start of a line waits for its end before it is written as it is.
constexpr DWORD kPartialLineWaitMs = 500;

// Reads smaller than this are followed by a pause of kGatherMs.
constexpr DWORD kSmallRead = 16 * 1024;
constexpr DWORD kGatherMs = 2;

// A rotation takes milliseconds; a holder that keeps the lock this long is stuck.
constexpr DWORD kLockWaitMs = 2000;
// Appends wait less for it, and after a wait in vain go on without it for a while.
constexpr DWORD kWriteLockWaitMs = 500;
constexpr ULONGLONG kWriteLockPauseMs = 10000;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

int64_t unixSeconds(const FILETIME& time) {
  ULARGE_INTEGER value;
  value.LowPart = time.dwLowDateTime;
  value.HighPart = time.dwHighDateTime;
  return static_cast<int64_t>(value.QuadPart / 10000000ull) - 11644473600ll;
}

// One mutex per log, whatever spelling of its path each process was given.
std::string lockName(const std::string& path) {
  char full[MAX_PATH * 2];
  DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  std::string text = length != 0 && length < sizeof full ? std::string(full, length) : path;
  uint64_t hash = 1469598103934665603ull;
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 'a' && byte <= 'z') byte = static_cast<unsigned char>(byte - 'a' + 'A');
    if (byte == '/') byte = '\\';
    hash = (hash ^ byte) * 1099511628211ull;
  }
  std::string name = "log-";
  for (int shift = 60; shift >= 0; shift -= 4) name += "0123456789abcdef"[(hash >> shift) & 0xF];
  return name + ".qlx.mutex";
}

class WinLogFiles : public LogFileSystem {
 public:
  explicit WinLogFiles(std::string path) : path_(std::move(path)) {}

  HANDLE handle() const { return file_.get(); }

  std::string open() override {
    OpenedLog opened = openLogForAppend(path_, FinalLink::Refuse);
    if (opened.handle == -1) return opened.problem;
    file_.reset(reinterpret_cast<HANDLE>(opened.handle));
    return std::string();
  }

  size_t write(const char* data, size_t length) override {
    // Wine appends through a seek to the end and a write, which two
    // processes can interleave so that one overwrites the other; the
    // rotation lock makes each append whole. Writes come in whole pipe
    // reads under load, so this costs little.
    const bool locked = writeLock();
    size_t total = 0;
    while (total < length) {
      DWORD written = 0;
      const size_t left = length - total;
      const DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
      if (!WriteFile(file_.get(), data + total, chunk, &written, nullptr) || written == 0) {
        error_ = written == 0 && GetLastError() == 0 ? ERROR_DISK_FULL : GetLastError();
        break;
      }
      total += written;
    }
    if (locked) ReleaseMutex(mutex_.get());
    return total;
  }

  std::string lastError() override { return systemErrorText(error_); }

  bool takeBack(size_t) override { return false; }  // an append-only handle cannot cut

  uint64_t size() override {
    LARGE_INTEGER size;
    return GetFileSizeEx(file_.get(), &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
  }

  int64_t modified() override {
    FILETIME written;
    return GetFileTime(file_.get(), nullptr, nullptr, &written) ? unixSeconds(written)
                                                               : wallClock();
  }

  bool replacedOnDisk() override {
    BY_HANDLE_FILE_INFORMATION held, named;
    if (!GetFileInformationByHandle(file_.get(), &held)) return false;
    ScopedKernelHandle other(CreateFileA(path_.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!other || !GetFileInformationByHandle(other.get(), &named)) return true;
    return held.dwVolumeSerialNumber != named.dwVolumeSerialNumber ||
           held.nFileIndexHigh != named.nFileIndexHigh || held.nFileIndexLow != named.nFileIndexLow;
  }

  std::string lock() override {
    if (!mutexReady()) return mutexProblem_;
    // An owner that died mid-rotation leaves the mutex abandoned; the files
    // are consistent after each single step, so going on is safe.
    const DWORD result = WaitForSingleObject(mutex_.get(), kLockWaitMs);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) return std::string();
    return "another process held the rotation lock for 2 s";
  }

  void unlock() override { ReleaseMutex(mutex_.get()); }

  std::string movable() override {
    // Opening for deletion fails while another program holds the file
    // without allowing it to be renamed; finding that out first leaves the
    // rotated files untouched.
    ScopedKernelHandle probe(CreateFileA(path_.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (probe) return std::string();
    DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION) return "another program has it open";
    return systemErrorText(error);
  }

  bool exists(const std::string& path) override {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  std::string apply(const FileStep& step) override {
    BOOL done = step.to.empty() ? DeleteFileA(step.from.c_str())
                                : MoveFileExA(step.from.c_str(), step.to.c_str(), 0);
    return done ? std::string() : systemErrorText(GetLastError());
  }

  std::vector<FoundFile> listFolder() override {
    std::vector<FoundFile> found;
    WIN32_FIND_DATAA entry;
    ScopedHandle<FindHandleTraits> search(
        FindFirstFileA((path_ + ".*").c_str(), &entry));
    if (!search) return found;
    do {
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        found.push_back({entry.cFileName, unixSeconds(entry.ftLastWriteTime)});
      }
    } while (FindNextFileA(search.get(), &entry));
    return found;
  }

  int64_t wallClock() override { return static_cast<int64_t>(std::time(nullptr)); }
  int64_t monotonicMs() override { return static_cast<int64_t>(GetTickCount64()); }
  void pauseMs(int ms) override { Sleep(static_cast<DWORD>(ms)); }
  const char* lineEnd() override { return "\r\n"; }

 private:
  // Made once. An object under the name that another user made (before
  // us, to hold it) is not ours to wait for: rotation then stays off.
  bool mutexReady() {
    if (mutex_ || !mutexProblem_.empty()) return static_cast<bool>(mutex_);
    UserSid user;
    if (!currentUserSid(user)) {
      mutexProblem_ = "the rotation lock cannot be made: " + systemErrorText(GetLastError());
      return false;
    }
    UserOnlySecurity security(user);
    const std::string name = "Local\\qlx." + user.text + "." + lockName(path_);
    if (tracing()) trace("rotation lock of ", path_.c_str(), ": ", name.c_str());
    mutex_.reset(security.ok() ? CreateMutexA(security.attributes(), FALSE, name.c_str()) : nullptr);
    if (!mutex_) {
      mutexProblem_ = "the rotation lock cannot be had: " + systemErrorText(GetLastError());
    } else if (GetLastError() == ERROR_ALREADY_EXISTS &&
               ownerTrust(mutex_.get(), SE_KERNEL_OBJECT, user, true) != OwnerTrust::Trusted) {
      mutex_.reset();
      mutexProblem_ = "the rotation lock's name is taken by another user";
    }
    return static_cast<bool>(mutex_);
  }

  bool writeLock() {
    if (GetTickCount64() < writeLockPausedUntil_ || !mutexReady()) return false;
    const DWORD result = WaitForSingleObject(mutex_.get(), kWriteLockWaitMs);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) return true;
    writeLockPausedUntil_ = GetTickCount64() + kWriteLockPauseMs;
    return false;
  }

  std::string path_;
  ScopedKernelHandle file_;
  ScopedKernelHandle mutex_;
  std::string mutexProblem_;
  ULONGLONG writeLockPausedUntil_ = 0;
  DWORD error_ = 0;
};

}  // namespace

struct LogPump::State {
  State(const std::string& path, const RotationPolicy& policy, RotatingLog::Warn warn)
      : files(path), log(files, path, policy, warn) {
    InitializeCriticalSection(&guard);
  }
  ~State() { DeleteCriticalSection(&guard); }

  // Starts a read into `buffer`; its completion signals `readDone`.
  // Called with `guard` held.
  bool issueRead() {
    ResetEvent(readDone.get());
    overlapped = OVERLAPPED();
    overlapped.hEvent = readDone.get();
    if (!ReadFile(readEnd.get(), buffer, sizeof buffer, nullptr, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
      return false;
    }
    readPending = true;
    return true;
  }

  // Writes the pending read's bytes when it has completed. False while it
  // is still waiting for data, or when the pipe broke. Called with `guard` held.
  bool takeCompletedRead() {
    if (!readPending) return false;
    DWORD count = 0;
    if (!GetOverlappedResult(readEnd.get(), &overlapped, &count, FALSE)) {
      if (GetLastError() == ERROR_IO_INCOMPLETE) return false;
      readPending = false;
      broken = true;
      return false;
    }
    readPending = false;
    lastRead = count;
    if (count > 0) log.write(buffer, count);
    return true;
  }

  void run() {
    EnterCriticalSection(&guard);
    while (!finished && !broken) {
      if (!readPending && !issueRead()) break;
      // Without a timeout while nothing is held: a quiet program costs nothing.
      const DWORD timeout = log.holdsPartial() ? kPartialLineWaitMs : INFINITE;
      LeaveCriticalSection(&guard);
      HANDLE waits[2] = {readDone.get(), stopped.get()};
      DWORD woken = WaitForMultipleObjects(2, waits, FALSE, timeout);
      EnterCriticalSection(&guard);
      if (finished) break;
      if (woken == WAIT_TIMEOUT) log.flushPartial();
      if (takeCompletedRead() && lastRead < kSmallRead) {
        // A program printing line by line would otherwise cost a read, a
        // wait and a locked write per line; a moment's pause lets the lines
        // gather in the pipe. Only after output came: a quiet program does
        // not wake this thread.
        LeaveCriticalSection(&guard);
        Sleep(kGatherMs);
        EnterCriticalSection(&guard);
      }
    }
    if (broken) log.flushPartial();
    LeaveCriticalSection(&guard);
  }

  static unsigned __stdcall threadMain(void* self) {
    static_cast<State*>(self)->run();
    return 0;
  }

  WinLogFiles files;
  RotatingLog log;
  ScopedKernelHandle readEnd, writeEnd, readDone, stopped, thread;
  CRITICAL_SECTION guard;
  OVERLAPPED overlapped = OVERLAPPED();
  bool readPending = false;
  DWORD lastRead = 0;
  bool finished = false;
  bool broken = false;
  char buffer[64 * 1024];
};

std::unique_ptr<LogPump> LogPump::start(const std::string& path, const RotationPolicy& policy,
                                        RotatingLog::Warn warn, std::string& problem) {
  std::unique_ptr<State> state(new State(path, policy, warn));
  problem = state->log.start();
  if (!problem.empty()) return nullptr;

  static LONG counter = 0;
  const std::string name = "\\\\.\\pipe\\qlx-log-" + decimalText(GetCurrentProcessId()) + "-" +
                           decimalText(InterlockedIncrement(&counter));
  state->readEnd.reset(CreateNamedPipeA(
      name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 0, 1 << 20, 0, nullptr));
  if (!state->readEnd) {
    problem = systemErrorText(GetLastError());
    return nullptr;
  }
  state->writeEnd.reset(
      CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  state->readDone.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  state->stopped.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  uintptr_t thread = 0;
  if (state->writeEnd && state->readDone && state->stopped) {
    thread = _beginthreadex(nullptr, 0, &State::threadMain, state.get(), 0, nullptr);
  }
  if (thread == 0) {
    problem = systemErrorText(GetLastError());
    return nullptr;
  }
  state->thread.reset(reinterpret_cast<HANDLE>(thread));
  return std::unique_ptr<LogPump>(new LogPump(std::move(state)));
}

LogPump::LogPump(std::unique_ptr<State> state) : state_(std::move(state)) {}

LogPump::~LogPump() {
  finish(2000);
  // The thread leaves as soon as it sees the stop; should it not (the
  // process is being torn down around it), its state must outlive it.
  if (WaitForSingleObject(state_->thread.get(), 2000) != WAIT_OBJECT_0) {
    state_.release();
    return;
  }
  if (state_->readPending) {
    // The buffer of a read still outstanding must not go before the read.
    DWORD ignored = 0;
    CancelIoEx(state_->readEnd.get(), &state_->overlapped);
    GetOverlappedResult(state_->readEnd.get(), &state_->overlapped, &ignored, TRUE);
  }
}

intptr_t LogPump::writeEnd() const { return reinterpret_cast<intptr_t>(state_->writeEnd.get()); }

intptr_t LogPump::currentFile() const {
  return reinterpret_cast<intptr_t>(state_->files.handle());
}

void LogPump::finish(uint32_t boundMs) {
  State& s = *state_;
  // A thread stuck inside a write holds the guard: then the bound passes
  // and the pipe's contents stay where they are.
  const ULONGLONG deadline = GetTickCount64() + boundMs;
  while (!TryEnterCriticalSection(&s.guard)) {
    if (GetTickCount64() >= deadline) return;
    Sleep(1);
  }
  if (!s.finished) {
    s.log.freeze();
    // A read that has completed holds the oldest bytes; one still waiting
    // means the pipe was empty, so everything written before this call has
    // been taken. Otherwise (the thread was between two reads) read on
    // until the pipe is empty or the bound has passed.
    if (s.readPending) s.takeCompletedRead();
    while (!s.readPending && !s.broken && GetTickCount64() < deadline) {
      DWORD available = 0;
      if (!PeekNamedPipe(s.readEnd.get(), nullptr, 0, nullptr, &available, nullptr) ||
          available == 0 || !s.issueRead()) {
        break;
      }
      WaitForSingleObject(s.readDone.get(), 1000);
      s.takeCompletedRead();
    }
    s.log.flushPartial();
    s.finished = true;
    SetEvent(s.stopped.get());
  }
  LeaveCriticalSection(&s.guard);
}

}  // namespace qlx
