// Fuzzes RotatingLog over files in memory: any output, cut into chunks of
// any size, through a small size limit and a disk that may fill up and
// empty again. It must end, and with a disk that never fills every byte
// is in the files in order, each rotated file within its size and the slack.
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "redirect/rotating_log.h"

namespace {

using namespace qlx;

class Files : public LogFileSystem {
 public:
  std::string open() override {
    if (!disk.count(path)) disk[path] = std::string();
    held = path;
    return "";
  }
  size_t write(const char* data, size_t length) override {
    const size_t n = length < capacity ? length : capacity;
    capacity -= n;
    disk[held].append(data, n);
    return n;
  }
  std::string lastError() override { return "full"; }
  bool takeBack(size_t bytes) override {
    std::string& data = disk[held];
    if (bytes > data.size()) return false;
    data.resize(data.size() - bytes);
    capacity += bytes;
    return true;
  }
  uint64_t size() override { return disk[held].size(); }
  int64_t modified() override { return clock; }
  bool replacedOnDisk() override { return held != path; }
  std::string lock() override { return ""; }
  void unlock() override {}
  std::string movable() override { return ""; }
  bool exists(const std::string& name) override { return disk.count(name) != 0; }
  std::string apply(const FileStep& step) override {
    auto it = disk.find(step.from);
    if (it == disk.end() || (!step.to.empty() && disk.count(step.to))) return "no";
    if (!step.to.empty()) disk[step.to] = it->second;
    if (held == step.from) held = step.to;
    disk.erase(step.from);
    return "";
  }
  std::vector<FoundFile> listFolder() override { return {}; }
  int64_t wallClock() override { return clock; }
  int64_t monotonicMs() override { return clock * 1000; }
  void pauseMs(int) override {}
  const char* lineEnd() override { return "\n"; }

  std::map<std::string, std::string> disk;
  std::string path = "/l/app.log";
  std::string held;
  size_t capacity = SIZE_MAX;
  int64_t clock = 1765152000;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  Files files;
  RotationPolicy policy;
  policy.maxBytes = 64 + data[0] * 16;
  policy.keep = 9999;
  const bool fills = (data[1] & 1) != 0;
  const size_t chunk = 1 + data[2] % 64;
  data += 3;
  size -= 3;
  RotatingLog log(files, files.path, policy, {});
  if (!log.start().empty()) std::abort();
  for (size_t at = 0, step = 0; at < size; at += chunk, ++step) {
    if (fills) files.capacity = step % 7 == 3 ? 5 : SIZE_MAX;
    files.clock += step % 5 == 0;
    log.write(reinterpret_cast<const char*>(data) + at, size - at < chunk ? size - at : chunk);
  }
  log.flushPartial();
  if (fills) return 0;
  std::string joined;
  for (int n = 9999; n >= 1; --n) {
    const std::string name = numberedName(files.path, n);
    if (!files.disk.count(name)) continue;
    if (files.disk[name].size() > policy.maxBytes + RotatingLog::kSlack) std::abort();
    joined += files.disk[name];
  }
  joined += files.disk[files.path];
  if (joined != std::string(reinterpret_cast<const char*>(data), size)) std::abort();
  return 0;
}
