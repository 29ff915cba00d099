// Narrow text on Windows: the ANSI code page, as the system's narrow
// functions read and write it. The C runtime's locale does not always follow
// it: with the UTF-8 code page of an --utf8-codepage manifest, msvcrt keeps
// the user's legacy code page (1252 and so on), and its conversions would
// disagree with every path, argument and environment value the system hands
// out and with every option the VM is given.
#include "launcher/text.h"
#include "launcher/win32.h"

namespace qlx {

std::u16string narrowToUtf16(std::string_view narrow) {
  narrow = narrow.substr(0, narrow.find('\0'));
  if (narrow.empty()) return {};
  const int size = static_cast<int>(narrow.size());
  const int units = MultiByteToWideChar(CP_ACP, 0, narrow.data(), size, nullptr, 0);
  if (units <= 0) return std::u16string(narrow.size(), u'?');
  std::u16string out(static_cast<size_t>(units), u'\0');
  MultiByteToWideChar(CP_ACP, 0, narrow.data(), size, reinterpret_cast<wchar_t*>(&out[0]), units);
  return out;
}

std::string utf16ToNarrow(std::u16string_view units) {
  units = units.substr(0, units.find(u'\0'));
  if (units.empty()) return {};
  const wchar_t* wide = reinterpret_cast<const wchar_t*>(units.data());
  const int count = static_cast<int>(units.size());
  // What the code page cannot represent becomes '?', never a look-alike:
  // a best-fit character could name another file. Code page 65001 can
  // represent everything and takes no such flag.
  const DWORD flags = GetACP() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const int bytes = WideCharToMultiByte(CP_ACP, flags, wide, count, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string(units.size(), '?');
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, flags, wide, count, &out[0], bytes, nullptr, nullptr);
  return out;
}

}  // namespace qlx
