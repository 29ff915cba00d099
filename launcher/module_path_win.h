// The running executable's path as Windows keeps it: wide, whole, whatever
// the ANSI code page can spell (launcher_context_win.cpp).
#pragma once

#include <string>

namespace qlx {

std::wstring executablePathWide();

}  // namespace qlx
