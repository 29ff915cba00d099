// Edit distance: "staus" is one step from "status", "LocalServce" one from
// "LocalService".
#include "service/nearest_word.h"


namespace qlx {
namespace {

char folded(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

size_t editDistanceIgnoreCase(std::string_view a, std::string_view b) {
  // Words typed for a switch or an account are short; beyond this the tail
  // of a longer text cannot make it any nearer.
  constexpr size_t kLongest = 63;
  if (a.size() > kLongest) a = a.substr(0, kLongest);
  if (b.size() > kLongest) b = b.substr(0, kLongest);
  size_t row[kLongest + 1];
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      size_t best = diagonal + (folded(a[i - 1]) == folded(b[j - 1]) ? 0 : 1);
      if (above + 1 < best) best = above + 1;
      if (row[j - 1] + 1 < best) best = row[j - 1] + 1;
      row[j] = best;
      diagonal = above;
    }
  }
  return row[b.size()];
}

const char* nearestWord(std::string_view typed, const char* const* words, size_t& distance) {
  const char* best = nullptr;
  distance = static_cast<size_t>(-1);
  for (const char* const* word = words; *word != nullptr; ++word) {
    const size_t d = editDistanceIgnoreCase(typed, *word);
    if (d < distance) {
      distance = d;
      best = *word;
    }
  }
  return best;
}

}  // namespace qlx
