// Reading the manifest and finding the main class in an archive.
#include "tools/qlxwrap/main_class.h"

namespace qlx::wrap {
namespace {

// Manifests are small; anything larger is not one worth reading.
constexpr size_t kMaxManifestSize = 1 << 20;

bool sameWord(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

std::string manifestAttribute(const std::string& manifest, const std::string& name) {
  // Lines end in CR LF, LF or CR; a line that starts with one space goes on
  // the one before it (writers wrap at 72 bytes); an empty line ends the
  // main section.
  std::string found;
  bool inAttribute = false;
  size_t pos = 0;
  while (pos < manifest.size()) {
    size_t end = manifest.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = manifest.size();
    const std::string line = manifest.substr(pos, end - pos);
    pos = end + (end + 1 < manifest.size() && manifest[end] == '\r' && manifest[end + 1] == '\n'
                     ? 2
                     : 1);
    if (line.empty()) break;
    if (line[0] == ' ') {
      if (inAttribute) found += line.substr(1);
      continue;
    }
    if (inAttribute) return found;
    const size_t colon = line.find(':');
    if (colon == std::string::npos || !sameWord(line.substr(0, colon), name)) continue;
    size_t value = colon + 1;
    while (value < line.size() && line[value] == ' ') ++value;
    found = line.substr(value);
    inAttribute = true;
  }
  return found;
}

std::string classEntryName(const std::string& className) {
  std::string entry = className;
  for (char& c : entry)
    if (c == '.') c = '/';
  return entry + ".class";
}

std::string manifestMainClass(const Bytes& archive, const ZipView& view) {
  const ZipEntry* entry = findEntry(view, "META-INF/MANIFEST.MF");
  std::string manifest, error;
  if (entry == nullptr || !readEntry(archive, *entry, kMaxManifestSize, manifest, error)) return {};
  std::string value = manifestAttribute(manifest, "Main-Class");
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
  return value;
}

bool archiveHoldsClass(const ZipView& view, const std::string& className) {
  const std::string wanted = classEntryName(className);
  const std::string versions = "META-INF/versions/";
  for (const ZipEntry& e : view.entries) {
    if (e.name == wanted) return true;
    if (e.name.compare(0, versions.size(), versions) != 0) continue;
    const size_t slash = e.name.find('/', versions.size());
    if (slash != std::string::npos && e.name.compare(slash + 1, std::string::npos, wanted) == 0)
      return true;
  }
  return false;
}

}  // namespace qlx::wrap
