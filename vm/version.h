// Java version texts and the minjre/maxjre limits.
#pragma once

#include <string>
#include <vector>

namespace qlx {

// Up to four numbers: a number, a run of non-digits, a number, ...
// "1.6.0_10" -> 1 6 0 10; "17.0.15" -> 17 0 15; "" or "x1" -> none.
std::vector<int> parseVersion(const std::string& text);

// Compares the first min(count) numbers; equal prefixes are within limits.
bool versionTooLow(const std::vector<int>& version, const std::vector<int>& minimum);
bool versionTooHigh(const std::vector<int>& version, const std::vector<int>& maximum);

}  // namespace qlx
