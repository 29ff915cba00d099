// qlxwrap's file access on Linux.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/qlxwrap/file_ops.h"

namespace qlx::wrap {

std::vector<std::string> commandLineUtf8(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

bool fileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat x, y;
  return stat(a.c_str(), &x) == 0 && stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev &&
         x.st_ino == y.st_ino;
}

bool readWholeFile(const std::string& path, Bytes& out, std::string& error) {
  out.clear();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = fd < 0 ? std::strerror(errno) : "not a regular file";
    if (fd >= 0) close(fd);
    return false;
  }
  out.resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < out.size()) {
    ssize_t n = read(fd, out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? std::strerror(errno) : "file shrank while reading";
      close(fd);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  close(fd);
  return true;
}

bool writeFileAtomically(const std::string& path, const Bytes& data, const std::string& modeFrom,
                         std::string& error) {
  std::string dir = ".";
  size_t slash = path.rfind('/');
  if (slash != std::string::npos) dir = slash == 0 ? "/" : path.substr(0, slash);
  std::string tmpl = dir + "/.qlxwrap-XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) {
    error = std::string("cannot create a file in ") + dir + ": " + std::strerror(errno);
    return false;
  }
  const std::string tmp(name.data());
  auto abandon = [&](const char* what) {
    error = std::string(what) + ": " + std::strerror(errno);
    close(fd);
    unlink(tmp.c_str());
    return false;
  };
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return abandon("cannot write the output");
    done += static_cast<size_t>(n);
  }
  struct stat st;
  mode_t mode = 0755;
  if (!modeFrom.empty() && stat(modeFrom.c_str(), &st) == 0) mode = st.st_mode & 07777;
  if (fchmod(fd, mode) != 0) return abandon("cannot set the output's permissions");
  if (fsync(fd) != 0) return abandon("cannot write the output");
  if (close(fd) != 0) {
    error = std::string("cannot write the output: ") + std::strerror(errno);
    unlink(tmp.c_str());
    return false;
  }
  if (rename(tmp.c_str(), path.c_str()) != 0) {
    error = std::string("cannot rename into place: ") + std::strerror(errno);
    unlink(tmp.c_str());
    return false;
  }
  return true;
}

std::string executableDirectory() {
  std::vector<char> buf(4096);
  ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return "./";
  std::string path(buf.data(), static_cast<size_t>(n));
  return path.substr(0, path.rfind('/') + 1);
}

}  // namespace qlx::wrap
