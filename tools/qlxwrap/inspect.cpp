// The --inspect report. Each part is read independently, so a damaged part
// (say, resources) still leaves the payload and digest report readable.
#include "tools/qlxwrap/inspect.h"

#include <cctype>
#include <cstring>

#include "launcher/digest.h"
#include "launcher/payload.h"
#include "launcher/text.h"
#include "tools/qlxwrap/app_resources.h"
#include "tools/qlxwrap/config_check.h"
#include "tools/qlxwrap/pe_image.h"
#include "tools/qlxwrap/pe_strings.h"

namespace qlx::wrap {
namespace {

constexpr unsigned kSecurityDirectory = 4;
constexpr int kIdentityBlock = 17;

std::string toUtf8(const std::u16string& s) { return utf16ToUtf8(s.data(), s.size()); }

// The external configuration files the launcher would try, in its order.
std::vector<std::string> externalCandidates(const std::string& path) {
  size_t sep = path.find_last_of("/\\");
  size_t dot = path.find_last_of('.');
  std::string stem = dot != std::string::npos && (sep == std::string::npos || dot > sep)
                         ? path.substr(0, dot) : path;
  return {path + ".cfg", path + ".config", stem + ".cfg", stem + ".config"};
}

// Whether an embedded line switches the external file off.
bool disablesExternal(const std::string& text) {
  static const char kKey[] = "disableexternal";
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    size_t k = line.find_first_not_of(' ');
    if (k == std::string::npos || line.size() - k < sizeof kKey - 1) continue;
    bool match = true;
    for (size_t i = 0; i < sizeof kKey - 1; ++i)
      match = match && (line[k + i] | 0x20) == kKey[i];
    if (!match) continue;
    size_t after = k + sizeof kKey - 1;
    if (after < line.size() && (isalnum(static_cast<unsigned char>(line[after])) || line[after] == '_'))
      continue;
    size_t v = line.find_first_not_of(' ', after);
    if (v != std::string::npos && line[v] == '=') v = line.find_first_not_of(' ', v + 1);
    std::string value = v == std::string::npos ? "" : line.substr(v);
    for (char& c : value) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return value == "true";  // the first line of the key decides
  }
  return false;
}

// Everything shown comes from the file, which anyone may have written: a
// control character in it must not act on the terminal.
void line(std::string& out, const std::string& label, const std::string& value) {
  out += printable(label);
  out.append(label.size() < 20 ? 20 - label.size() : 1, ' ');
  out += printable(value) + "\n";
}

// The bare stub reserves room for the service texts with runs of '#'.
std::string serviceText(const std::u16string& text) {
  if (text.size() >= 16 && text.find_first_not_of(u'#') == std::u16string::npos) return "not set";
  return toUtf8(text);
}

void reportResources(const Bytes& file, std::string& out) {
  PeLayout pe;
  std::string error;
  if (!parsePe(file, pe, error)) {
    line(out, "format:", "not a Windows executable (no resources to report)");
    return;
  }
  uint32_t certSize = pe.directorySize(file, kSecurityDirectory);
  line(out, "signature:", pe.directoryAddress(file, kSecurityDirectory) != 0 && certSize != 0
                              ? "present (" + std::to_string(certSize) + " bytes)" : "none");
  ResourceTree tree;
  if (!readResources(file, tree, error)) {
    line(out, "resources:", error);
    return;
  }
  static const char* kIdentity[] = {"service name:", "display name:", "description:",
                                    "dependencies:"};
  const ResourceData* block = findResource(tree, kRtString, kIdentityBlock);
  std::vector<std::u16string> strings;
  if (block != nullptr && decodeStringBlock(block->bytes, strings)) {
    for (int i = 0; i < 4; ++i) line(out, kIdentity[i], serviceText(strings[i]));
    std::string settings = strings.size() > 4 ? toUtf8(strings[4]) : std::string();
    while (!settings.empty() && settings.back() == '\n') settings.pop_back();
    for (char& c : settings) c = c == '\n' ? ' ' : c;
    if (!settings.empty()) line(out, "service settings:", settings);
  } else {
    line(out, "service identity:", "none");
  }
  std::string sizes;
  for (const std::string& s : iconSizes(tree)) sizes += (sizes.empty() ? "" : " ") + s;
  line(out, "icon sizes:", sizes.empty() ? "none" : sizes);
  const ResourceData* version = findResource(tree, kRtVersion, 1);
  std::vector<std::pair<std::string, std::string>> texts;
  if (version == nullptr) {
    line(out, "version:", "none");
  } else if (!readVersionStrings(version->bytes, texts)) {
    line(out, "version:", "damaged");
  } else {
    out += "version:\n";
    for (const auto& t : texts) line(out, "  " + t.first + ":", t.second);
  }
  const ResourceData* manifest = findResource(tree, kRtManifest, 1);
  std::string level = "none";
  if (manifest != nullptr) {
    std::string text(manifest->bytes.begin(), manifest->bytes.end());
    size_t at = text.find("requestedExecutionLevel level=\"");
    level = "present";
    if (at != std::string::npos) {
      size_t start = at + 31, end = text.find('"', start);
      if (end != std::string::npos) level += ", " + text.substr(start, end - start);
    }
    if (text.find(">UTF-8</activeCodePage>") != std::string::npos) level += ", UTF-8 code page";
  }
  line(out, "manifest:", level);
}

}  // namespace

InspectResult inspectFile(const Bytes& file, const std::string& path,
                          const std::function<bool(const std::string&)>& exists) {
  InspectResult r;
  std::string& out = r.text;
  line(out, "file:", path + " (" + std::to_string(file.size()) + " bytes)");
  int64_t marker = findArchiveSlot(file.data(), file.size());
  if (marker < 8) {
    line(out, "payload:", "none: no single archive length slot, not a qlx program");
    reportResources(file, out);
    r.code = kInspectNoPayload;
    return r;
  }
  int64_t archiveLength = 0;
  for (int i = 3; i >= 0; --i) archiveLength = archiveLength << 8 | file[marker - 8 + i];
  archiveLength = static_cast<int32_t>(archiveLength);
  PayloadLayout layout;
  PayloadStatus status = locatePayload(file.data(), file.size(), archiveLength, layout);
  if (status != PayloadStatus::Ok) {
    line(out, "payload:", std::string("none: ") + payloadStatusText(status));
    reportResources(file, out);
    r.code = kInspectNoPayload;
    return r;
  }
  line(out, "stub size:", std::to_string(layout.blockOffset) + " bytes");
  std::string block = readConfigBlock(file.data(), layout);
  bool utf8Mark = block.size() >= 3 && block.compare(0, 3, "\xEF\xBB\xBF") == 0;
  std::string text = utf8Mark ? block.substr(3) : block;
  line(out, "configuration:", std::to_string(layout.blockLength) + " bytes embedded" +
                                  (utf8Mark ? ", UTF-8" : ""));
  size_t pos = 0;
  while (pos < text.size() && text[pos] != '\0') {
    size_t end = text.find_first_of(std::string("\r\n\0", 3), pos);
    if (end == std::string::npos) end = text.size();
    if (end > pos) out += "  | " + printable(text.substr(pos, end - pos)) + "\n";
    pos = end + (end < text.size() && text[end] != '\0' ? 1 : 0);
    if (end < text.size() && text[end] == '\0') break;
  }
  const std::vector<ConfigFinding> findings =
      checkConfig(text.substr(0, text.find('\0')), ConfigRole::Embedded);
  line(out, "config check:", findings.empty() ? "no mistakes found"
                                              : std::to_string(findings.size()) + " finding(s)");
  for (const ConfigFinding& f : findings)
    line(out, std::string("  ") + (f.error ? "error:" : "warning:"), findingText(f));
  const bool disabled = disablesExternal(text);
  std::string external = disabled ? "disabled (disableexternal)" : "none beside the file";
  for (const std::string& c : externalCandidates(path)) {
    if (exists(c)) {
      external = c + (disabled ? " (ignored: disableexternal)" : " (would be read)");
      break;
    }
  }
  line(out, "external config:", external);
  uint64_t eocd = layout.fileSize - static_cast<uint64_t>(layout.trailingLength) - 22;
  line(out, "archive:", std::to_string(layout.archiveLength) + " bytes, " +
                            std::to_string(get16(file, eocd + 10)) + " entries");
  if (layout.trailingLength > 0)
    line(out, "trailing bytes:", std::to_string(layout.trailingLength));
  Digest digest = fileDigest(file.data(), layout);
  bool intact = std::memcmp(digest.data(), file.data() + layout.digestOffset, digest.size()) == 0;
  line(out, "digest:", intact ? "intact" : "modified (the file changed after it was written)");
  reportResources(file, out);
  r.code = intact ? static_cast<int>(kOk) : static_cast<int>(kInspectModified);
  return r;
}

}  // namespace qlx::wrap
