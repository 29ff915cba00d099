// Text conversions shared by the whole launcher.
//
// The launcher keeps three kinds of text: UTF-8 (the configuration), narrow
// text in the user's ANSI code page (everything handed to the operating
// system), and UTF-16 (Java strings, UTF-16 configuration files). The narrow
// conversions follow the ANSI code page on Windows (the system's own
// conversions) and the locale that start-up selects with setlocale(LC_ALL, "")
// on Linux (narrow_text_win.cpp, narrow_text_posix.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qlx {

using StringList = std::vector<std::string>;

// Appends one UTF-16 unit as UTF-8: one byte below 0x80, two below 0x800,
// three otherwise. Surrogate halves are encoded one by one.
void appendUnitAsUtf8(std::string& out, char16_t unit);

// Encodes units up to `count` or the first 0 unit, whichever comes first.
std::string utf16ToUtf8(const char16_t* units, size_t count);

// Lenient UTF-8 decoding used by configuration lookups: stray or 4-byte lead
// bytes become '?', a sequence cut short by the end of the text is dropped,
// a missing continuation byte yields '?' and decoding resumes there.
std::u16string decodeUtf8Lenient(std::string_view utf8);

// Narrow (ANSI code page) <-> UTF-16. Characters the code page cannot
// represent become '?'.
std::u16string narrowToUtf16(std::string_view narrow);
std::string utf16ToNarrow(std::u16string_view units);

// Configuration value to narrow text: unchanged when every byte is below 0x80.
std::string utf8ToNarrow(std::string_view utf8);
// Narrow text re-encoded as UTF-8: unchanged when every byte is below 0x80.
std::string narrowToUtf8(std::string_view narrow);

// UTF-8 as JNI's modified UTF-8 (what FindClass and NewStringUTF take):
// characters beyond U+FFFF become two encoded surrogates, and bytes that
// form no valid sequence become '?' rather than reaching the VM malformed.
std::string toModifiedUtf8(std::string_view utf8);

// Case-insensitive comparison in the current locale (narrow text).
// Decimal text of a number; std::to_string would bring a formatter per
// integer type into the stub.
std::string decimalText(int64_t value);

bool equalsIgnoreCase(std::string_view a, std::string_view b);
bool startsWithIgnoreCase(std::string_view text, std::string_view prefix);
// Case-insensitive over ASCII letters only, whatever the locale: for names
// the system defines (environment variables, file extensions), where "I"
// must match "i" even in a Turkish locale.
bool equalsAsciiIgnoreCase(std::string_view a, std::string_view b);

bool endsWithSeparator(std::string_view path);  // ends in '\' or '/'
bool isSeparator(char c);

// Whether a byte of narrow text starts a two-byte character. In the double-
// byte code pages (932, 936, 949, 950) the second byte may be 0x5C, a '\'
// that is no separator: 表 in code page 932 is 95 5C.
using LeadByteTest = bool (*)(unsigned char byte);
// The ANSI code page's rule: IsDBCSLeadByte on Windows; never on Linux,
// where narrow text is UTF-8 and no byte inside a character is a separator
// (paths_win.cpp / paths_posix.cpp).
bool isNarrowLeadByte(unsigned char byte);

// Where the last '\' or '/' of a narrow path is (npos when none), and
// where the last '.' after it is (npos when none), reading the path
// character by character so trail bytes are never taken for either.
struct PathSplit {
  size_t lastSeparator = std::string_view::npos;
  size_t extensionDot = std::string_view::npos;
};
PathSplit splitNarrowPath(std::string_view path, LeadByteTest isLead);
// endsWithSeparator by the same reading.
bool endsWithSeparator(std::string_view path, LeadByteTest isLead);

}  // namespace qlx
