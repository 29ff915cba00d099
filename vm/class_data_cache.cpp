// Names in the cache folder and what a start does with what it finds; see
// class_data_cache.h.
#include "vm/class_data_cache.h"

#include <cstring>

#include "launcher/digest.h"
#include "launcher/trace.h"

namespace qlx {

namespace {

constexpr size_t kKeyDigits = 32;

struct Suffix {
  CacheFile kind;
  const char* before;  // text after the base, before the number (or the whole suffix)
  const char* after;   // text after the number; null: the kind has no number
};
const Suffix kSuffixes[] = {
    {CacheFile::Archive, ".jsa", nullptr},
    {CacheFile::Cache, ".aot", nullptr},
    {CacheFile::ClassList, ".classlist", nullptr},
    {CacheFile::Refusal, ".refused", nullptr},
    {CacheFile::ArchiveDump, ".jsa.", ".tmp"},
    {CacheFile::ClassListDump, ".classlist.", ".tmp"},
    {CacheFile::CacheDump, ".aot.", ".tmp"},
    {CacheFile::AssemblyLog, ".aot.", ".log"},
    {CacheFile::StartMarker, ".", ".start"},
};

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// A process id or an assembly's number: 1 to 10 digits that fit 32 bits.
bool parseNumber(const std::string& text, uint32_t& out) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value == 0 || value > 0xffffffffu) return false;
  out = static_cast<uint32_t>(value);
  return true;
}

bool endsWith(const std::string& text, const char* end) {
  const size_t n = std::strlen(end);
  return text.size() >= n && text.compare(text.size() - n, n, end) == 0;
}

bool placesCache(ArchiveKind kind) { return kind == ArchiveKind::AotCache; }

}  // namespace

std::string programTag(const std::string& applicationPath) {
  constexpr const char* kDigits = "0123456789abcdef";  // the one shared literal
  const size_t cut = splitNarrowPath(applicationPath, isNarrowLeadByte).lastSeparator;
  std::string stem = cut == std::string::npos ? applicationPath : applicationPath.substr(cut + 1);
  const size_t dot = stem.rfind('.');
  if (dot != std::string::npos && dot > 0) stem.resize(dot);
  // A readable name where it is plain; the path's hash tells programs apart.
  for (char& c : stem) {
    const bool plain =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    if (!plain) c = '_';
  }
  if (stem.size() > 32) stem.resize(32);
  const Digest digest =
      hashBytes(reinterpret_cast<const uint8_t*>(applicationPath.data()), applicationPath.size());
  stem += '-';
  for (size_t i = 0; i < 4; ++i) {
    stem += kDigits[digest[i] >> 4];
    stem += kDigits[digest[i] & 15];
  }
  return stem;
}

std::string cacheFileName(const std::string& base, CacheFile kind, uint32_t number) {
  for (const Suffix& suffix : kSuffixes) {
    if (suffix.kind != kind) continue;
    if (suffix.after == nullptr) return base + suffix.before;
    DecimalBuffer digits;
    return base + suffix.before + decimal(number, digits) + suffix.after;
  }
  return base;
}

CacheEntry parseCacheFileName(const std::string& name, const std::string& tag) {
  CacheEntry entry;
  const size_t keyAt = tag.size() + 1;
  if (name.size() <= keyAt + kKeyDigits || name.compare(0, tag.size(), tag) != 0 ||
      name[tag.size()] != '-') {
    return entry;
  }
  for (size_t i = keyAt; i < keyAt + kKeyDigits; ++i) {
    if (!isHexDigit(name[i])) return entry;
  }
  const std::string rest = name.substr(keyAt + kKeyDigits);
  for (const Suffix& suffix : kSuffixes) {
    const size_t before = std::strlen(suffix.before);
    if (rest.compare(0, before, suffix.before) != 0) continue;
    if (suffix.after == nullptr) {
      if (rest.size() != before) continue;
    } else {
      if (!endsWith(rest, suffix.after)) continue;
      const size_t after = std::strlen(suffix.after);
      if (rest.size() < before + after ||
          !parseNumber(rest.substr(before, rest.size() - before - after), entry.number)) {
        continue;
      }
    }
    entry.kind = suffix.kind;
    entry.key = name.substr(keyAt, kKeyDigits);
    return entry;
  }
  entry.number = 0;
  return entry;
}

ClassDataPlan planClassData(ArchiveKind kind, const KeyFacts& facts) {
  if (facts.refused) {
    return {ClassDataStep::None, kind,
            "an earlier start ended while its VM was created with the archive options"};
  }
  if (facts.deadStart != 0) {
    return {ClassDataStep::None, kind,
            "the last start with the archive options ended before its VM was created"};
  }
  const char* reason = nullptr;
  if (kind == ArchiveKind::AotCache) {
    if (facts.cacheUsable) return {ClassDataStep::UseCache, kind, nullptr};
    if (facts.assembled != 0) return {ClassDataStep::TakeCache, kind, nullptr};
    if (facts.assembling) return {ClassDataStep::None, kind, "the cache is being assembled"};
    if (facts.failedAssemblies < kAssemblyTries) {
      if (facts.classList) {
        return {ClassDataStep::AssembleCache, kind,
                "the cache is assembled in the background from the recorded class list"};
      }
      return {ClassDataStep::RecordClassList, kind, nullptr};
    }
    reason = "the cache could not be assembled (see its log): dynamic archive";
  }
  return {facts.archiveUsable ? ClassDataStep::UseArchive : ClassDataStep::DumpArchive,
          ArchiveKind::Dynamic, reason};
}

bool removableAfterPlacing(const CacheEntry& entry, const std::string& key, ArchiveKind kind,
                           bool live) {
  if (entry.kind == CacheFile::Unknown || live) return false;
  if (entry.key != key) return true;
  switch (entry.kind) {
    case CacheFile::ArchiveDump:
    case CacheFile::ClassListDump:
    case CacheFile::StartMarker:
      return true;
    // Once the cache is in place its class list and the assemblies'
    // records have served; while it is not, they count the tries.
    case CacheFile::ClassList:
    case CacheFile::CacheDump:
    case CacheFile::AssemblyLog:
      return placesCache(kind);
    default:
      return false;
  }
}

}  // namespace qlx
