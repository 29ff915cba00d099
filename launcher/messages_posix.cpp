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
    {1024, "Service type application.\n\nUse /install to install service."},
};

}  // namespace

std::string stringTableText(int id) {
  for (const TableText& entry : kStringTable)
    if (entry.id == id) return entry.text;
  return {};
}

}  // namespace qlx
