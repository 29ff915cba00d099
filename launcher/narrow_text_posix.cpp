// Narrow text on Linux: the C runtime's locale, which start-up selects with
// setlocale(LC_ALL, "") (UTF-8 on the systems the Linux build serves).
#include <climits>
#include <cwchar>

#include "launcher/text.h"

namespace qlx {

std::u16string narrowToUtf16(std::string_view narrow) {
  std::u16string out;
  std::mbstate_t state{};
  const char* p = narrow.data();
  size_t left = narrow.size();
  while (left > 0 && *p != '\0') {
    wchar_t wc = 0;
    size_t used = std::mbrtowc(&wc, p, left, &state);
    if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2)) {
      // Not a character of the code page: keep going with a visible mark.
      out.push_back(u'?');
      state = std::mbstate_t{};
      ++p;
      --left;
      continue;
    }
    if (used == 0) break;
    const unsigned long code = static_cast<unsigned long>(wc);
    if (code >= 0x10000 && code <= 0x10FFFF) {
      const unsigned long v = code - 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 | (v >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 | (v & 0x3FF)));
    } else if (code > 0x10FFFF) {
      out.push_back(u'?');
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
    p += used;
    left -= used;
  }
  return out;
}

std::string utf16ToNarrow(std::u16string_view units) {
  std::string out;
  std::mbstate_t state{};
  char buffer[MB_LEN_MAX > 16 ? MB_LEN_MAX : 16];
  for (size_t i = 0; i < units.size(); ++i) {
    unsigned long code = units[i];
    if (code == 0) break;
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF && sizeof(wchar_t) >= 4) {
      code = 0x10000 + ((code - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    }
    size_t used = std::wcrtomb(buffer, static_cast<wchar_t>(code), &state);
    if (used == static_cast<size_t>(-1)) {
      out.push_back('?');
      state = std::mbstate_t{};
    } else {
      out.append(buffer, used);
    }
  }
  return out;
}

}  // namespace qlx
