// The cache's assembly on Linux: posix_spawn of the runtime's java in a
// session of its own, ten steps nicer than the program, with nothing of
// the program's open files but its log, which carries a lock for as long
// as the assembly runs. A thread reaps it should the program outlive it.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "vm/class_data_platform.h"

extern char** environ;

namespace qlx {

namespace {

constexpr int kNicer = 10;

void* reap(void* pid) {
  const pid_t child = static_cast<pid_t>(reinterpret_cast<intptr_t>(pid));
  while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
  return nullptr;
}

bool hidden(const char* entry, const StringList& names) {
  for (const std::string& name : names) {
    if (std::strncmp(entry, name.c_str(), name.size()) == 0 && entry[name.size()] == '=') {
      return true;
    }
  }
  return false;
}

// Only the three standard streams reach the assembly: the program's
// sockets and pipes must close when the program ends.
void closeTheRest(posix_spawn_file_actions_t& actions) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#else
  const long limit = sysconf(_SC_OPEN_MAX);
  for (int fd = 3; fd < (limit > 0 && limit < 65536 ? limit : 65536); ++fd) {
    if (fcntl(fd, F_GETFD) >= 0) posix_spawn_file_actions_addclose(&actions, fd);
  }
#endif
}

}  // namespace

bool startAssembly(const StringList& arguments, const std::string& log,
                   const StringList& removeFromEnvironment) {
  if (arguments.empty()) return false;
  const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (!hidden(*entry, removeFromEnvironment)) envp.push_back(*entry);
  }
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fd, 1);
  posix_spawn_file_actions_adddup2(&actions, fd, 2);
  closeTheRest(actions);
  // Out of the terminal's session (no hang-up, no Ctrl-C when the program
  // ends), with the signals a VM thread blocks or catches back to normal.
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (const int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGCHLD, SIGUSR1, SIGUSR2}) {
    sigaddset(&defaults, signal);
  }
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (rc != 0) {
    // The log stays as the record of a failed assembly.
    const std::string why = "cannot start " + arguments[0] + ": " + std::strerror(rc) + "\n";
    const ssize_t written = write(fd, why.data(), why.size());
    (void)written;
  }
  close(fd);  // the assembly's streams keep the log and its lock
  if (rc != 0) return false;
  errno = 0;
  const int current = getpriority(PRIO_PROCESS, 0);
  if (errno == 0) {
    setpriority(PRIO_PROCESS, static_cast<id_t>(pid),
                current + kNicer > 19 ? 19 : current + kNicer);
  }
  pthread_t thread;
  pthread_attr_t threadAttributes;
  pthread_attr_init(&threadAttributes);
  pthread_attr_setdetachstate(&threadAttributes, PTHREAD_CREATE_DETACHED);
  pthread_attr_setstacksize(&threadAttributes, 64 * 1024);
  pthread_create(&thread, &threadAttributes, &reap,
                 reinterpret_cast<void*>(static_cast<intptr_t>(pid)));
  pthread_attr_destroy(&threadAttributes);
  return true;
}

bool assemblyRunning(const std::string& log) {
  const int fd = open(log.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  const bool locked = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(fd);  // also gives back a lock taken just now
  return locked;
}

}  // namespace qlx
