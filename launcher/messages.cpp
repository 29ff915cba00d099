// Messages (placeholder).
#include "launcher/messages.h"
#include <cstdio>
#include <cstdlib>
namespace qlx {
std::string unescapeMessage(std::string_view text) { return std::string(text); }
std::string fillPlaceholders(std::string_view format, std::initializer_list<std::string_view>, size_t) { return std::string(format); }
void MessageOverrides::build(const LauncherContext&, Os&) {}
const std::string* MessageOverrides::find(int) const { return nullptr; }
std::string messageText(int id) { return stringTableText(id); }
void printMessage(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }
void reportFatal(int id) { printMessage(messageText(id)); std::exit(id); }
}  // namespace qlx
