// The string table of the Linux build: the same texts as the Windows
// resource (resources/qlx.rc), compiled in. A unit test keeps the two equal.
#include "launcher/messages.h"

namespace qlx {
namespace {

struct TableText {
  int id;
  const char* text;
};

constexpr TableText kStringTable[] = {
    {1, "Java Runtime Environment not found."},
    {2, "Java Runtime Environment not valid."},
    {3, "Java Virtual Machine initialize failed."},
    {4, "Java Virtual Machine starts failed."},
    {5, "Can not get the virtual machine version."},
    {6, "Java virtual machine version %s is too low, require %s or higher."},
    {7, "The main startup class could not be found."},
    {8, "The main startup class is not valid, main method missing."},
    {9, "The exe can not be modified after it generated."},
    {10, "Error"},
    {12, "Java virtual machine version %s is too high, version between %s and %s is required."},
    {13, "There is already an instance of this program running."},
    {14, "This program file is damaged or incomplete: %s."},
    {15, "%s cannot be written to %s: %s."},
    {16, "Java virtual machine version %s is too high, require %s or lower."},
    {256, ""},
    {257, ""},
    {258, ""},
    {259, ""},
    {272, "Service can be installed on Windows NT only."},
    {273, "Service '%s' installed successfully."},
    {274, "Service '%s' install failed, "},
    {275, "Service '%s' uninstalled successfully."},
    {276, "Service '%s' uninstall failed, "},
    {277, "the requested access was denied."},
    {278, "the service name already exists."},
    {279, "service is marked for delete at next startup."},
    {280, "the service already exists."},
    {281, "error occurs."},
    {282, "service does not exist."},
    {283, "Service '%s' %s failed, "},
    {284, "Run the command from an elevated prompt (Run as administrator)."},
    {285, "the service is already running."},
    {286, "the service is already stopped."},
    {287, "the service is disabled."},
    {288, "a service it depends on could not be started."},
    {289, "the service stopped while starting, with exit code %s; see its error log %s"},
    {290, "the service did not become %s within %s seconds."},
    {291, "the service account could not log on; check the account name and password."},
    {292, "the service does not accept this request while it is %s."},
    {293, "services that depend on it are running; stop them first."},
    {294, "the Service Control Manager reported error %s."},
    {295, "Service '%s' started."},
    {296, "Service '%s' stopped."},
    {297, "Service '%s' restarted."},
    {298, "Service '%s' paused."},
    {299, "Service '%s' continued."},
    {300, "Service '%s' is %s."},
    {301, "Process id %s, start type %s, account %s, exit code %s, service-specific exit code %s."},
    {302, "'%s' is no start type (auto, delayed, manual, disabled); for an argument use /install:%s %s"},
    {303, "the value of %s is not valid: '%s'%s."},
    {304, "Password for %s: "},
    {305, "Service '%s': the %s setting could not be applied (error %s)."},
    {306, "Waiting for service '%s' to become %s"},
    {307, "Unknown switch '%s'; did you mean %s?"},
    {308, "'%s' is no account; did you mean %s? (a user: .\\%s)"},
    {309, "give it as /password:VALUE; the argument after it was not used."},
    {310, "Service '%s' still runs; it goes once it stops."},
    {311, "Recovery: %s."},
    {1024, "Service type application.\n\nUse /install to install service."},
};

}  // namespace

std::string stringTableText(int id) {
  for (const TableText& entry : kStringTable)
    if (entry.id == id) return entry.text;
  return {};
}

}  // namespace qlx

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qlx {
namespace {

// Standard output as the process received it, kept before main runs, so
// results still reach it after the configuration redirects descriptor 1.
struct StartOutput {
  int copy = -1;
  StartOutput() { copy = fcntl(1, F_DUPFD_CLOEXEC, 3); }
};

StartOutput gStartOutput;

}  // namespace

bool startOutputRedirected() {
  if (gStartOutput.copy < 0) return false;
  struct stat now, start;
  if (fstat(1, &now) != 0 || fstat(gStartOutput.copy, &start) != 0) return false;
  return now.st_dev != start.st_dev || now.st_ino != start.st_ino;
}

bool startOutputInteractive() { return gStartOutput.copy >= 0 && isatty(gStartOutput.copy); }

void writeStartOutput(const std::string& text) {
  if (gStartOutput.copy < 0) return;
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(gStartOutput.copy, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace qlx
