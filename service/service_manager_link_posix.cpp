// Linux has no Service Control Manager: every service command reports
// "Service can be installed on Windows NT only."
#include <chrono>
#include <thread>

#include "service/service_commands.h"

namespace qlx {
namespace {

class NoManagerLink : public ServiceManagerLink {
 public:
  uint32_t open(const std::string&, uint32_t) override { return kWinOldWindows; }
  uint32_t query(ServiceStatusView&) override { return kWinOldWindows; }
  uint32_t queryConfig(ServiceConfigView&) override { return kWinOldWindows; }
  uint32_t start(const StringList&) override { return kWinOldWindows; }
  uint32_t control(uint32_t) override { return kWinOldWindows; }
  void sleepMs(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
  uint64_t nowMs() override {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  }
};

}  // namespace

std::unique_ptr<ServiceManagerLink> systemServiceManager() {
  return std::make_unique<NoManagerLink>();
}

}  // namespace qlx
