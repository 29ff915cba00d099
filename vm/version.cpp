// Java version texts and the minjre/maxjre limits. The reading follows the
// runtime's scanf pattern "%d%[^0-9]%d%[^0-9]%d%[^0-9]%d", written out by
// hand: the pattern's %[ fields have no width, and a long run of letters
// in a configured limit must not overrun a buffer.
#include "vm/version.h"

#include <cctype>
#include <climits>

namespace qlx {
namespace {

// %d: blanks, an optional sign, at least one digit. Saturates.
bool scanNumber(const std::string& text, size_t& pos, int& out) {
  size_t i = pos;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  long long value = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
    if (value <= INT_MAX) value = value * 10 + (text[i] - '0');
    ++i;
  }
  if (value > INT_MAX) value = INT_MAX;
  out = static_cast<int>(negative ? -value : value);
  pos = i;
  return true;
}

// %[^0-9]: one or more characters that are not digits.
bool scanNonDigits(const std::string& text, size_t& pos) {
  size_t i = pos;
  while (i < text.size() && !(text[i] >= '0' && text[i] <= '9')) ++i;
  if (i == pos) return false;
  pos = i;
  return true;
}

}  // namespace

std::vector<int> parseVersion(const std::string& text) {
  // The scan ends at a NUL as the C text would.
  const std::string input = text.substr(0, text.find('\0'));
  std::vector<int> numbers;
  size_t pos = 0;
  int fields = 0;
  for (int k = 0; k < 4; ++k) {
    int number = 0;
    if (!scanNumber(input, pos, number)) break;
    numbers.push_back(number);
    ++fields;
    if (k == 3 || !scanNonDigits(input, pos)) break;
    ++fields;
  }
  numbers.resize(static_cast<size_t>((fields + 1) / 2));
  return numbers;
}

bool versionTooLow(const std::vector<int>& version, const std::vector<int>& minimum) {
  const size_t n = version.size() < minimum.size() ? version.size() : minimum.size();
  for (size_t i = 0; i < n; ++i)
    if (version[i] != minimum[i]) return version[i] < minimum[i];
  return false;
}

bool versionTooHigh(const std::vector<int>& version, const std::vector<int>& maximum) {
  const size_t n = version.size() < maximum.size() ? version.size() : maximum.size();
  for (size_t i = 0; i < n; ++i)
    if (version[i] != maximum[i]) return version[i] > maximum[i];
  return false;
}

}  // namespace qlx
