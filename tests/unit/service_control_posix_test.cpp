// Linux has no service manager: install and uninstall refuse with the
// "Windows NT only" reason, the dispatcher returns at once.
#include <gtest/gtest.h>

#include "launcher/messages.h"
#include "service/service_command_line.h"

namespace qlx {
namespace {

TEST(ServiceControlPosix, InstallAndUninstallRefuse) {
  EXPECT_EQ(installService("\"/x\" ", "n", "d", "", "/", true, false), kMsgNtOnly);
  EXPECT_EQ(installService("", "", "", "", "", false, true), kMsgNtOnly);
  EXPECT_EQ(uninstallService("n"), kMsgNtOnly);
  startServiceDispatcher("n");  // must return
}

}  // namespace
}  // namespace qlx
