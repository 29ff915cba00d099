// A small decoder of raw DEFLATE data (the zip format's method 8), enough
// for the generator to read a manifest out of an application archive. It
// favours clarity over speed: the entries it reads are a few kilobytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qlx::wrap {

// Decodes `size` bytes of raw DEFLATE data into `out`. Stops with false
// (and `error` set) on malformed data or when the output would pass
// `limit` bytes, so a hostile archive cannot make it allocate without end.
bool inflateRaw(const uint8_t* data, size_t size, size_t limit, std::string& out,
                std::string& error);

}  // namespace qlx::wrap
