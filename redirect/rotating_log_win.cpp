// Windows side of rotated logs: the file operations of RotatingLog, a named
// mutex per log path as the rotation lock, and the pipe with its draining
// thread.
//
// The pipe's reading end is overlapped so that the thread waits without
// holding the lock that finish() takes: every byte is read and written
// under that lock, and finish() can take over a read that has completed but
// not yet been written, in order.
#include <process.h>

#include <ctime>

#include "launcher/handle_win.h"
#include "redirect/log_pump.h"

namespace qlx {

namespace {

// How long the start of a line waits for its end before it is written as it is.
constexpr DWORD kPartialLineWaitMs = 500;

// Reads smaller than this are followed by a pause of kGatherMs.
constexpr DWORD kSmallRead = 16 * 1024;
constexpr DWORD kGatherMs = 2;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string systemErrorText(DWORD error) {
  char* text = nullptr;
  DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                    FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = length != 0 && text != nullptr ? std::string(text, length) : std::string();
  if (text != nullptr) LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                             result.back() == ' ' || result.back() == '.')) {
    result.pop_back();
  }
  if (result.empty()) result = "error " + std::to_string(error);
  return result;
}

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

  bool open() override {
    // Append-only, like a plain target, so that other instances' writes
    // and ours never overwrite each other.
    HANDLE handle = CreateFileA(path_.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_ARCHIVE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    file_.reset(handle);
    return true;
  }

  bool write(const char* data, size_t length) override {
    // Wine appends through a seek to the end and a write, which two
    // processes can interleave so that one overwrites the other; the
    // rotation lock makes each append whole. Writes come in whole pipe
    // reads under load, so this costs little.
    const bool locked = lock();
    bool ok = true;
    while (length > 0) {
      DWORD written = 0;
      DWORD chunk = length > 0x10000000 ? 0x10000000 : static_cast<DWORD>(length);
      if (!WriteFile(file_.get(), data, chunk, &written, nullptr) || written == 0) {
        ok = false;
        break;
      }
      data += written;
      length -= written;
    }
    if (locked) unlock();
    return ok;
  }

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
                                         OPEN_EXISTING, 0, nullptr));
    if (!other || !GetFileInformationByHandle(other.get(), &named)) return true;
    return held.dwVolumeSerialNumber != named.dwVolumeSerialNumber ||
           held.nFileIndexHigh != named.nFileIndexHigh || held.nFileIndexLow != named.nFileIndexLow;
  }

  bool lock() override {
    if (!mutex_) mutex_.reset(CreateMutexA(nullptr, FALSE, lockName(path_).c_str()));
    if (!mutex_) return false;
    // An owner that died mid-rotation leaves the mutex abandoned; the files
    // are consistent after each single step, so going on is safe.
    DWORD result = WaitForSingleObject(mutex_.get(), INFINITE);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
  }

  void unlock() override { ReleaseMutex(mutex_.get()); }

  std::string movable() override {
    // Opening for deletion fails while another program holds the file
    // without allowing it to be renamed; finding that out first leaves the
    // rotated files untouched.
    ScopedKernelHandle probe(
        CreateFileA(path_.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
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

 private:
  std::string path_;
  ScopedKernelHandle file_;
  ScopedKernelHandle mutex_;
};

// Takes the lock for its scope.
class CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CRITICAL_SECTION& section) : section_(section) {
    EnterCriticalSection(&section_);
  }
  ~CriticalSectionLock() { LeaveCriticalSection(&section_); }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  CRITICAL_SECTION& section_;
};

}  // namespace

struct LogPump::State {
  State(const std::string& path, const RotationPolicy& policy, RotatingLog::Warn warn)
      : files(path), log(files, path, policy, std::move(warn)) {
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
                                        RotatingLog::Warn warn) {
  std::unique_ptr<State> state(new State(path, policy, std::move(warn)));
  if (!state->log.start()) return nullptr;

  static LONG counter = 0;
  const std::string name = "\\\\.\\pipe\\qlx-log-" + std::to_string(GetCurrentProcessId()) + "-" +
                           std::to_string(InterlockedIncrement(&counter));
  state->readEnd.reset(CreateNamedPipeA(
      name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 0, 1 << 20, 0, nullptr));
  if (!state->readEnd) return nullptr;
  state->writeEnd.reset(
      CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  state->readDone.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  state->stopped.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!state->writeEnd || !state->readDone || !state->stopped) return nullptr;
  uintptr_t thread = _beginthreadex(nullptr, 0, &State::threadMain, state.get(), 0, nullptr);
  if (thread == 0) return nullptr;
  state->thread.reset(reinterpret_cast<HANDLE>(thread));
  return std::unique_ptr<LogPump>(new LogPump(std::move(state)));
}

LogPump::LogPump(std::unique_ptr<State> state) : state_(std::move(state)) {}

LogPump::~LogPump() {
  finish();
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

void LogPump::finish() {
  State& s = *state_;
  CriticalSectionLock lock(s.guard);
  if (s.finished) return;
  s.log.freeze();
  // A read that has completed holds the oldest bytes; one still waiting
  // means the pipe was empty, so everything written before this call has
  // been taken. Otherwise (the thread was between two reads) read on until
  // the pipe is empty.
  if (s.readPending) s.takeCompletedRead();
  while (!s.readPending && !s.broken) {
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

}  // namespace qlx
