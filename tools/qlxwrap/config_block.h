// The configuration block as the launcher expects it: UTF-8 byte order
// mark, the text with CR LF line ends, one NUL.
#pragma once

#include <string>

#include "tools/qlxwrap/wrap.h"

namespace qlx::wrap {

// Converts a configuration file (UTF-8 with or without its mark, or UTF-16
// with a mark) into the block. Fails (false, `error` set) on text that is
// not valid UTF-8 / UTF-16 or that contains a NUL character, since the
// launcher would silently cut the text there.
bool buildConfigBlock(const Bytes& input, Bytes& block, std::string& error);

// Checks that `text` is well-formed UTF-8 and decodes it to UTF-16.
bool utf8ToUtf16(const std::string& text, std::u16string& out);

}  // namespace qlx::wrap
