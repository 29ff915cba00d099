// Text conversions: UTF-8 <-> UTF-16 by the launcher's own rules. The
// narrow (ANSI code page) side is per platform: narrow_text_win.cpp,
// narrow_text_posix.cpp.
#include "launcher/text.h"

#include <cctype>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <cwchar>

namespace qlx {

void appendUnitAsUtf8(std::string& out, char16_t unit) {
  const unsigned u = unit;
  if (u < 0x80) {
    out.push_back(static_cast<char>(u));
  } else if (u < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (u >> 6)));
    out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (u >> 12)));
    out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
  }
}

std::string utf16ToUtf8(const char16_t* units, size_t count) {
  std::string out;
  for (size_t i = 0; i < count && units[i] != 0; ++i) appendUnitAsUtf8(out, units[i]);
  return out;
}

std::u16string decodeUtf8Lenient(std::string_view utf8) {
  std::u16string out;
  const size_t n = utf8.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    size_t need;
    unsigned value;
    if (c < 0x80) {
      out.push_back(c);
      ++i;
      continue;
    } else if (c >= 0xC0 && c <= 0xDF) {
      need = 1;
      value = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      need = 2;
      value = c & 0x0F;
    } else {
      // Stray continuation byte or a 4-byte lead: not supported.
      out.push_back(u'?');
      ++i;
      continue;
    }
    if (n - i - 1 < need) break;  // cut short by the end of the value: dropped
    size_t j = i + 1;
    bool complete = true;
    for (size_t k = 0; k < need; ++k, ++j) {
      const unsigned char d = static_cast<unsigned char>(utf8[j]);
      if ((d & 0xC0) != 0x80) {
        complete = false;
        break;
      }
      value = (value << 6) | (d & 0x3F);
    }
    out.push_back(complete ? static_cast<char16_t>(value) : u'?');
    i = j;  // resumes at the first byte that was not a continuation byte
  }
  return out;
}

static bool isAscii(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

std::string utf8ToNarrow(std::string_view utf8) {
  if (isAscii(utf8)) return std::string(utf8);
  return utf16ToNarrow(decodeUtf8Lenient(utf8));
}

std::string narrowToUtf8(std::string_view narrow) {
  if (isAscii(narrow)) return std::string(narrow);
  const std::u16string wide = narrowToUtf16(narrow);
  return utf16ToUtf8(wide.data(), wide.size());
}

std::string toModifiedUtf8(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  const auto continuation = [&](size_t at) {
    return at < utf8.size() && (static_cast<unsigned char>(utf8[at]) & 0xC0) == 0x80;
  };
  const auto appendUnit = [&](uint32_t unit) {
    out += static_cast<char>(0xE0 | (unit >> 12));
    out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (unit & 0x3F));
  };
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char lead = static_cast<unsigned char>(utf8[i]);
    if (lead < 0x80) {
      out += static_cast<char>(lead);
      ++i;
    } else if (lead >= 0xC2 && lead <= 0xDF && continuation(i + 1)) {
      out.append(utf8, i, 2);
      i += 2;
    } else if (lead >= 0xE0 && lead <= 0xEF && continuation(i + 1) && continuation(i + 2)) {
      out.append(utf8, i, 3);
      i += 3;
    } else if (lead >= 0xF0 && lead <= 0xF4 && continuation(i + 1) && continuation(i + 2) &&
               continuation(i + 3)) {
      const uint32_t cp = ((lead & 0x07u) << 18) |
                          ((static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu) << 12) |
                          ((static_cast<unsigned char>(utf8[i + 2]) & 0x3Fu) << 6) |
                          (static_cast<unsigned char>(utf8[i + 3]) & 0x3Fu);
      if (cp >= 0x10000 && cp <= 0x10FFFF) {
        appendUnit(0xD800 + ((cp - 0x10000) >> 10));
        appendUnit(0xDC00 + ((cp - 0x10000) & 0x3FF));
      } else {
        out += '?';
      }
      i += 4;
    } else {
      out += '?';
      ++i;
    }
  }
  return out;
}

static int foldCase(char c) { return std::tolower(static_cast<unsigned char>(c)); }

std::string decimalText(int64_t value) {
  char digits[20];
  char* end = digits + sizeof digits;
  char* start = end;
  uint64_t rest = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    *--start = static_cast<char>('0' + rest % 10);
    rest /= 10;
  } while (rest != 0);
  std::string text(value < 0 ? "-" : "");
  return text.append(start, end);
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && startsWithIgnoreCase(a, b);
}

bool startsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (foldCase(text[i]) != foldCase(prefix[i])) return false;
  return true;
}

bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool endsWithSeparator(std::string_view path) { return !path.empty() && isSeparator(path.back()); }

PathSplit splitNarrowPath(std::string_view path, LeadByteTest isLead) {
  PathSplit split;
  for (size_t i = 0; i < path.size(); ++i) {
    const char c = path[i];
    if (isSeparator(c)) {
      split.lastSeparator = i;
      split.extensionDot = std::string_view::npos;
    } else if (c == '.') {
      split.extensionDot = i;
    } else if (isLead(static_cast<unsigned char>(c))) {
      ++i;  // its trail byte is part of the character, whatever its value
    }
  }
  return split;
}

bool endsWithSeparator(std::string_view path, LeadByteTest isLead) {
  return !path.empty() && splitNarrowPath(path, isLead).lastSeparator == path.size() - 1;
}

bool equalsAsciiIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace qlx
