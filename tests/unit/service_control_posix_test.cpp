// Linux has no service manager: install and uninstall refuse with the
// "Windows NT only" reason, the dispatcher returns at once.
#include <gtest/gtest.h>

#include "launcher/messages.h"
#include "service/service_command_line.h"

namespace qlx {
namespace {

TEST(ServiceControlPosix, InstallAndUninstallRefuse) {
  ServiceRegistration registration;
  registration.imagePath = "\"/x\" ";
  registration.name = "n";
  EXPECT_EQ(installService(registration, [](const char*, uint32_t) {}), kMsgNtOnly);
  bool stillRunning = true;
  EXPECT_EQ(uninstallService("n", stillRunning), kMsgNtOnly);
  EXPECT_FALSE(stillRunning);
  EXPECT_FALSE(startServiceDispatcher("n"));  // must return
}

}  // namespace
}  // namespace qlx
