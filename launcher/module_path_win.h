// The running executable's path as Windows keeps it: wide, whole, whatever
// the ANSI code page can spell (launcher_context_win.cpp).
#pragma once

#include <string>

#include "launcher/win32.h"

namespace qlx {

// UTF-16 text for the wide functions. std::u16string rather than
// std::wstring: the latter drags the C++ library's whole wide-string
// instantiation (24 KB) into the launcher.
using WideText = std::u16string;
static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 units");

inline LPCWSTR wideChars(const WideText& text) { return reinterpret_cast<LPCWSTR>(text.c_str()); }
inline LPWSTR wideChars(WideText& text) { return reinterpret_cast<LPWSTR>(&text[0]); }

WideText executablePathWide();

}  // namespace qlx
