// Redirection of standard output and standard error on Windows into an
// appended file or into the standard input of a command ("|command").
//
// Both layers are switched: the process's standard handle (what the JVM
// and child processes write to) and the C runtime's descriptor behind
// stdout/stderr (what the launcher's own printf writes to). The descriptor
// is rebound with _dup2 onto a private duplicate of the target handle, so
// the runtime owns its copy and its final flush at exit still reaches the
// target after the redirector has closed its own handle. Copying whole FILE
// records around would leave two streams sharing one buffer whenever both
// names point at the same target; only the descriptor field of the
// standard FILE is set, for processes that started without one.
#include "redirect/redirect.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "eventlog/event_log.h"
#include "launcher/handle_win.h"
#include "launcher/text.h"
#include "redirect/log_open.h"
#include "redirect/log_pump.h"

namespace qlx {

namespace {

struct RedirectTarget {
  std::string name;
  HANDLE handle = INVALID_HANDLE_VALUE;
  bool pipe = false;
  // A rotated file: `handle` is the pump's pipe, owned by the pump.
  std::unique_ptr<LogPump> pump;
  std::string problem;  // why the file could not be opened
  // Where standard error goes: a rotated file's warnings go there, unless
  // that is this very file.
  const RedirectTarget* const* errorTarget = nullptr;
};

bool warnOnStandardError(void* context, const std::string& line) {
  const auto* self = static_cast<const RedirectTarget*>(context);
  if (*self->errorTarget == self) return false;  // it goes into this very log
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written,
            nullptr);
  return true;
}

// How long the last drain of a rotated log may take at the process's end.
constexpr uint32_t kFinalDrainMs = 5000;

// The id of the event that says a log cannot be opened: the message's own.
constexpr uint32_t kLogNotOpenedEvent = 15;

HANDLE duplicateOf(HANDLE handle, BOOL inheritable) {
  HANDLE copy = nullptr;
  HANDLE self = GetCurrentProcess();
  if (!DuplicateHandle(self, handle, self, &copy, 0, inheritable, DUPLICATE_SAME_ACCESS)) {
    return INVALID_HANDLE_VALUE;
  }
  return copy;
}

// Starts `commandLine` with the read end of a new pipe as its standard
// input and returns the write end, or INVALID_HANDLE_VALUE.
HANDLE openPipeTarget(const std::string& commandLine) {
  SECURITY_ATTRIBUTES inheritable = {};
  inheritable.nLength = sizeof(inheritable);
  inheritable.bInheritHandle = TRUE;
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return INVALID_HANDLE_VALUE;
  ScopedKernelHandle reader(readEnd);
  // Only the read end may reach the child; our end must not, or the child
  // would hold its own input open and never see it end.
  HANDLE ownEnd = duplicateOf(writeEnd, FALSE);
  CloseHandle(writeEnd);
  ScopedKernelHandle writer(ownEnd);
  if (!writer) return INVALID_HANDLE_VALUE;

  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = reader.get();
  startup.hStdOutput = nullptr;
  startup.hStdError = nullptr;
  PROCESS_INFORMATION process = {};
  std::string mutableLine = commandLine;  // CreateProcessA may write into it
  if (!CreateProcessA(nullptr, &mutableLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                      nullptr, nullptr, &startup, &process)) {
    return INVALID_HANDLE_VALUE;
  }
  // The child has its copy of the read end. Dropping ours means a reader
  // that ends early breaks the pipe instead of leaving our writes blocked
  // on a full buffer nobody drains.
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return writer.release();
}

struct StandardStream {
  DWORD id;
  FILE* stream;
  int descriptor;
  bool redirected = false;
  HANDLE saved = INVALID_HANDLE_VALUE;    // the handle in place before, kept open by us
  HANDLE current = INVALID_HANDLE_VALUE;  // the target's handle
  RedirectTarget* target = nullptr;
};

class StreamRedirector {
 public:
  StreamRedirector()
      : output_{STD_OUTPUT_HANDLE, stdout, 1}, error_{STD_ERROR_HANDLE, stderr, 2} {}

  ~StreamRedirector() {
    finishPumps(kFinalDrainMs, true);
    for (StandardStream* s : {&output_, &error_}) {
      if (s->redirected) SetStdHandle(s->id, s->saved);
    }
    for (auto& target : targets_) {
      if (target->handle != INVALID_HANDLE_VALUE && !target->pump) CloseHandle(target->handle);
    }
  }

  void setRotation(const RotationPolicy& policy) { rotation_ = policy; }
  std::string redirectStdout(const std::string& text) { return redirect(output_, text); }
  std::string redirectStderr(const std::string& text) { return redirect(error_, text); }

  // The last output of rotated logs reaches their files: both layers of
  // the standard streams are pointed at the files themselves, so nothing
  // written from here on can fill a pipe that nobody drains any more, and
  // then the pipes are emptied. Without `runtimeToo` only the standard
  // handles move: the runtime's locks may be held by a thread that hangs.
  void finishPumps(uint32_t boundMs, bool runtimeToo) {
    if (runtimeToo) {
      fflush(stdout);
      fflush(stderr);
    }
    for (auto& target : targets_) {
      if (!target->pump) continue;
      HANDLE file = reinterpret_cast<HANDLE>(target->pump->currentFile());
      for (StandardStream* s : {&output_, &error_}) {
        if (!s->redirected || s->target != target.get()) continue;
        SetStdHandle(s->id, file);
        if (!runtimeToo) continue;
        HANDLE runtimeCopy = duplicateOf(file, FALSE);
        if (runtimeCopy == INVALID_HANDLE_VALUE) continue;
        int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(runtimeCopy),
                                         _O_WRONLY | _O_APPEND | _O_TEXT);
        if (descriptor < 0) {
          CloseHandle(runtimeCopy);
          continue;
        }
        _dup2(descriptor, s->descriptor);
        _close(descriptor);
      }
      target->pump->finish(boundMs);
    }
  }

 private:
  RedirectTarget& findOrOpenTarget(const std::string& text) {
    for (auto& target : targets_) {
      if (target->name == text) return *target;
    }
    auto target = std::make_unique<RedirectTarget>();
    target->name = text;
    target->pipe = !text.empty() && text[0] == '|';
    if (target->pipe) {
      target->handle = openPipeTarget(text.substr(1));
    } else if (rotation_.enabled()) {
      target->errorTarget = &error_.target;
      target->pump =
          LogPump::start(text, rotation_, {warnOnStandardError, target.get()}, target->problem);
      if (target->pump) target->handle = reinterpret_cast<HANDLE>(target->pump->writeEnd());
    } else {
      OpenedLog opened = openLogForAppend(text, FinalLink::FollowOwn);
      target->handle = reinterpret_cast<HANDLE>(opened.handle);
      target->problem = opened.problem;
    }
    targets_.push_back(std::move(target));
    return *targets_.back();
  }

  std::string redirect(StandardStream& s, const std::string& text) {
    const size_t known = targets_.size();
    RedirectTarget& target = findOrOpenTarget(text);
    s.current = target.handle;
    if (target.handle == INVALID_HANDLE_VALUE) {
      return targets_.size() > known ? target.problem : std::string();
    }
    if (s.redirected) return std::string();

    // Give the runtime its own descriptor on the target first; if that is
    // impossible the stream stays as it was, both layers alike.
    HANDLE runtimeCopy = duplicateOf(target.handle, FALSE);
    if (runtimeCopy == INVALID_HANDLE_VALUE) return std::string();
    int descriptor =
        _open_osfhandle(reinterpret_cast<intptr_t>(runtimeCopy), _O_WRONLY | _O_APPEND | _O_TEXT);
    if (descriptor < 0) {
      CloseHandle(runtimeCopy);
      return std::string();
    }

    // Rebinding the descriptor closes the handle the runtime had for it,
    // which is usually the original standard handle; keep a copy to put
    // back at exit.
    HANDLE original = GetStdHandle(s.id);
    HANDLE kept = ScopedKernelHandle::isValid(original) ? duplicateOf(original, FALSE)
                                                        : INVALID_HANDLE_VALUE;
    s.saved = kept != INVALID_HANDLE_VALUE ? kept : original;

    fflush(s.stream);  // what was written so far belongs to the old destination
    int rebound = _dup2(descriptor, s.descriptor);
    _close(descriptor);
    SetStdHandle(s.id, target.handle);
    s.redirected = true;
    s.target = &target;
    if (rebound == 0) {
      // A process started without standard handles (a service) has its
      // standard FILE marked as having no descriptor at all; point it at
      // the rebound one, or the launcher's own output would vanish.
      s.stream->_file = s.descriptor;
      clearerr(s.stream);
      // Files get every write at once; a pipe's reader is better served in blocks.
      setvbuf(s.stream, nullptr, target.pipe ? _IOFBF : _IONBF, BUFSIZ);
    }
    return std::string();
  }

  std::vector<std::unique_ptr<RedirectTarget>> targets_;
  RotationPolicy rotation_;
  StandardStream output_;
  StandardStream error_;
};

// Built before main and destroyed at exit, after the handlers registered
// later (the VM's among them) have run.
StreamRedirector gRedirector;

StreamRedirector& redirector() { return gRedirector; }

}  // namespace

void setLogRotation(const RotationPolicy& policy) { redirector().setRotation(policy); }

void finishRotatedLogs() { redirector().finishPumps(kFinalDrainMs, true); }

void drainRotatedLogs(uint32_t boundMs) { redirector().finishPumps(boundMs, false); }

std::string redirectStdout(const std::string& target) {
  return redirector().redirectStdout(target);
}

std::string redirectStderr(const std::string& target) {
  return redirector().redirectStderr(target);
}

void sayLogNotOpened(bool standardOutput, const std::string& line, const std::string& fallback) {
  const std::string text = line + "\r\n";
  DWORD written = 0;
  for (DWORD id : {standardOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE, STD_ERROR_HANDLE}) {
    HANDLE stream = GetStdHandle(id);
    if (ScopedKernelHandle::isValid(stream)) {
      WriteFile(stream, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
      return;
    }
  }
  // No console and no error log: a service. Its administrator looks in the
  // event log, and beside the program.
  if (intptr_t source = registerEventSource(nullptr, nullptr)) {
    reportEvent(source, EVENTLOG_ERROR_TYPE, 0, kLogNotOpenedEvent, {narrowToUtf16(line)}, {});
    deregisterEventSource(source);
  }
  if (fallback.empty()) return;
  ScopedKernelHandle file(
      reinterpret_cast<HANDLE>(openLogForAppend(fallback, FinalLink::FollowOwn).handle));
  if (file) WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void writeHandleByte(intptr_t handle, uint8_t byte) {
  if (handle == 0) return;
  DWORD written = 0;
  WriteFile(reinterpret_cast<HANDLE>(handle), &byte, 1, &written, nullptr);
}

}  // namespace qlx
