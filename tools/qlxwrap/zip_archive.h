// Just enough of the zip format to check an application archive, to strip
// its comment and to merge the entries of several archives without
// recompressing them.
#pragma once

#include <string>

#include "tools/qlxwrap/wrap.h"

namespace qlx::wrap {

struct ZipEntry {
  std::string name;
  uint64_t centralOffset = 0;  // of its central directory record
  uint64_t centralSize = 0;    // record length including name, extra, comment
  uint64_t localOffset = 0;    // of its local header
  uint64_t localSize = 0;      // local header, data and data descriptor
  uint16_t method = 0;         // 0 stored, 8 deflated
  uint64_t dataOffset = 0;     // of its (compressed) data
  uint64_t compressedSize = 0;
  uint64_t size = 0;           // uncompressed
};

struct ZipView {
  uint64_t endOffset = 0;  // of the end-of-central-directory record
  uint64_t centralOffset = 0;
  uint64_t centralSize = 0;
  std::vector<ZipEntry> entries;
};

// Validates a whole archive file: its end record, the central directory
// inside the file and before the end record, every central record, and
// every local header it points at. Archives that need zip64 fields or that
// carry a prefix (offsets not relative to the first byte) are refused.
bool parseZip(const Bytes& data, ZipView& view, std::string& error);

// The archive up to and including its end record, with the comment
// dropped: a generated file ends exactly at the end record.
Bytes withoutComment(const Bytes& data, const ZipView& view);

struct ZipSource {
  const Bytes* data;
  const ZipView* view;
  bool merged;  // false for the application's own archive
};

// The entry called `name`, or null.
const ZipEntry* findEntry(const ZipView& view, const std::string& name);

// The uncompressed data of a stored or deflated entry of at most `limit`
// bytes. False with `error` set for other methods and damaged data.
bool readEntry(const Bytes& data, const ZipEntry& entry, size_t limit, std::string& out,
               std::string& error);

// One archive with every entry of the first source and, in order, the
// entries of later sources whose names are not taken yet. Entries are
// copied raw. Manifests and signature files of merged archives are left
// out (their signatures would not match the merged archive anyway).
bool mergeZips(const std::vector<ZipSource>& sources, Bytes& out, std::string& error);

}  // namespace qlx::wrap
