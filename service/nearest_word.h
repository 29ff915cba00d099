// The word of a short list nearest to what someone typed: for "did you
// mean" hints on the command line (/staus, /account:LocalServce).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qlx {

// Edits (insert, delete, replace a character) that turn one text into the
// other, comparing ASCII letters without regard to case.
size_t editDistanceIgnoreCase(std::string_view a, std::string_view b);

// The first word of `words` (null-terminated list) nearest to `typed`.
// `distance` gets how far it is.
const char* nearestWord(std::string_view typed, const char* const* words, size_t& distance);

}  // namespace qlx
