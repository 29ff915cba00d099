// Normalising a configuration file into the embedded block: one encoding
// (UTF-8 with its mark) and one line end (CR LF), whatever the author's
// editor produced.
#include "tools/qlxwrap/config_block.h"

namespace qlx::wrap {
namespace {

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Decodes one strict UTF-8 sequence at `i`; false on malformed input.
bool decodeUtf8(const std::string& s, size_t& i, char32_t& c) {
  unsigned char b = static_cast<unsigned char>(s[i]);
  int extra;
  char32_t min;
  if (b < 0x80) {
    c = b;
    ++i;
    return true;
  } else if ((b & 0xE0) == 0xC0) {
    extra = 1, c = b & 0x1F, min = 0x80;
  } else if ((b & 0xF0) == 0xE0) {
    extra = 2, c = b & 0x0F, min = 0x800;
  } else if ((b & 0xF8) == 0xF0) {
    extra = 3, c = b & 0x07, min = 0x10000;
  } else {
    return false;
  }
  if (i + extra >= s.size()) return false;
  for (int k = 1; k <= extra; ++k) {
    unsigned char n = static_cast<unsigned char>(s[i + k]);
    if ((n & 0xC0) != 0x80) return false;
    c = (c << 6) | (n & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
  i += extra + 1;
  return true;
}

bool utf16ToUtf8Strict(const uint8_t* p, size_t units, bool bigEndian, std::string& out) {
  auto unit = [&](size_t k) -> char16_t {
    uint8_t a = p[2 * k], b = p[2 * k + 1];
    return static_cast<char16_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
  };
  for (size_t k = 0; k < units; ++k) {
    char32_t c = unit(k);
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (k + 1 >= units) return false;
      char32_t low = unit(k + 1);
      if (low < 0xDC00 || low > 0xDFFF) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      ++k;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
    appendUtf8(out, c);
  }
  return true;
}

}  // namespace

bool utf8ToUtf16(const std::string& text, std::u16string& out) {
  out.clear();
  size_t i = 0;
  while (i < text.size()) {
    char32_t c;
    if (!decodeUtf8(text, i, c)) return false;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return true;
}

bool buildConfigBlock(const Bytes& input, Bytes& block, std::string& error) {
  std::string text;
  size_t n = input.size();
  const uint8_t* p = input.data();
  if (n >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF))) {
    if ((n - 2) % 2 != 0) {
      error = "configuration file is UTF-16 but has an odd number of bytes";
      return false;
    }
    if (!utf16ToUtf8Strict(p + 2, (n - 2) / 2, p[0] == 0xFE, text)) {
      error = "configuration file is not valid UTF-16 (unpaired surrogate)";
      return false;
    }
  } else {
    size_t skip = (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) ? 3 : 0;
    text.assign(reinterpret_cast<const char*>(p) + skip, n - skip);
    size_t i = 0;
    char32_t c;
    while (i < text.size()) {
      if (!decodeUtf8(text, i, c)) {
        error = "configuration file is not valid UTF-8 (at byte " + std::to_string(i + skip) +
                "); save it as UTF-8 or UTF-16";
        return false;
      }
    }
  }
  if (text.find('\0') != std::string::npos) {
    error = "configuration file contains a NUL character, which would end the text early";
    return false;
  }
  block.assign({0xEF, 0xBB, 0xBF});
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      block.push_back('\r');
      block.push_back('\n');
      // CR LF is one line end; so is a lone CR or a lone LF.
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      block.push_back(static_cast<uint8_t>(c));
    }
  }
  block.push_back(0);
  if (block.size() > 0x7FFFFFF0u) {
    error = "configuration file is too large";
    return false;
  }
  return true;
}

}  // namespace qlx::wrap
