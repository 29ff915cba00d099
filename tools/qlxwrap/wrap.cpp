// Assembling a wrapped program: stub (with its archive length slot and, for
// Windows stubs, its service texts filled in), configuration block, block
// length, digest, archive. The digest is computed last, over the final
// bytes, with the same function the launcher uses to check itself.
//
// The archive goes in unchanged (offsets relative to its own first byte):
// the JDK's zip reader takes the archive start from where the central
// directory really lies (end record position - directory size - directory
// offset), so it finds every entry with the stub and the configuration in
// front. `java -cp wrapped-file Main` proves it in tests/generator. Zip64
// archives are refused: their locator holds an absolute offset, and the
// launcher reads lengths as 32-bit values anyway.
#include "tools/qlxwrap/wrap.h"

#include <cstring>

#include "launcher/digest.h"
#include "launcher/payload.h"
#include "tools/qlxwrap/app_resources.h"
#include "service/install_settings.h"
#include "tools/qlxwrap/config_block.h"
#include "tools/qlxwrap/config_check.h"
#include "tools/qlxwrap/main_class.h"
#include "tools/qlxwrap/pe_image.h"
#include "tools/qlxwrap/pe_strings.h"
#include "tools/qlxwrap/zip_archive.h"

namespace qlx::wrap {
namespace {

constexpr int kIdentityBlock = 17;  // ids 256..271
constexpr uint64_t kMaxFileSize = 0x7FFFFFFF;  // the launcher reads sizes as 32-bit signed

bool fail(Failure& f, int code, std::string message) {
  f.code = code;
  f.message = std::move(message);
  return false;
}

void put64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

bool fillArchiveSlot(Bytes& stub, uint64_t archiveLength, Failure& f) {
  int64_t marker = findArchiveSlot(stub.data(), stub.size());
  if (marker < 0)
    return fail(f, kBadStub, "stub has no archive length slot: it is not a qlx launcher");
  uint64_t next = static_cast<uint64_t>(marker) + 1;
  if (findArchiveSlot(stub.data() + next, stub.size() - next) >= 0)
    return fail(f, kBadStub, "stub holds the archive length slot marker more than once");
  if (marker < 8) return fail(f, kBadStub, "stub's archive length slot is cut off");
  uint8_t* slot = stub.data() + marker - 8;
  for (int i = 0; i < 8; ++i) {
    if (slot[i] != 0)
      return fail(f, kBadStub, "stub already carries a payload: wrap the bare launcher");
  }
  put64(slot, archiveLength);
  return true;
}

bool toUtf16(const std::string& text, const char* what, std::u16string& out, Failure& f) {
  if (!utf8ToUtf16(text, out)) return fail(f, kUsage, std::string(what) + " is not valid UTF-8");
  return true;
}

// The install-time defaults as the launcher reads them back ("key=value"
// lines, string 260), checked by the launcher's own parser.
bool settingsText(const ServiceIdentity& id, std::string& text, Failure& f) {
  const struct {
    const std::optional<std::string>& value;
    const char* key;
    const char* option;
  } kSettings[] = {{id.startType, "start", "--start-type"},
                   {id.account, "account", "--account"},
                   {id.recovery, "recovery", "--recovery"},
                   {id.failOnExit, "failonexit", "--fail-on-exit"}};
  for (const auto& setting : kSettings) {
    if (!setting.value) continue;
    const std::string line = std::string(setting.key) + "=" + *setting.value;
    InstallSettings parsed;
    std::string bad, why;
    if (setting.value->empty() || setting.value->find_first_of("\r\n") != std::string::npos ||
        !applyStoredSettings(line, parsed, bad, &why))
      return fail(f, kUsage, std::string(setting.option) + " '" + *setting.value + "' is not valid" +
                                 (why.empty() ? std::string() : ": " + why));
    for (unsigned char c : line) {
      if (c >= 0x80) return fail(f, kUsage, std::string(setting.option) + " must be ASCII text");
    }
    text += line + "\n";
  }
  return true;
}

bool writeIdentity(ResourceTree& tree, const WrapInput& in, Failure& f) {
  const ServiceIdentity& id = in.identity;
  std::string name = id.name.value_or(in.defaultServiceName);
  if (name.empty()) return fail(f, kUsage, "--service-name must not be empty");
  if (name.size() > 255)
    return fail(f, kUsage, "--service-name is longer than the 255 bytes Windows allows");
  if (name.find_first_of("/\\") != std::string::npos)
    return fail(f, kUsage, "--service-name must not contain '/' or '\\'");
  std::u16string texts[4];
  if (!toUtf16(name, "--service-name", texts[0], f) ||
      !toUtf16(id.displayName.value_or(name), "--display-name", texts[1], f) ||
      !toUtf16(id.description.value_or(""), "--description", texts[2], f) ||
      !toUtf16(id.dependencies.value_or(""), "--depends", texts[3], f))
    return false;
  std::string settings;
  if (!settingsText(id, settings, f)) return false;
  std::vector<std::pair<int, std::u16string>> repl;
  for (int i = 0; i < 4; ++i) repl.emplace_back(i, texts[i]);
  if (!settings.empty()) repl.emplace_back(4, std::u16string(settings.begin(), settings.end()));
  std::string error;
  if (!patchStringBlock(tree, kIdentityBlock, repl, error))
    return fail(f, kBadIdentity, "cannot write the service texts into the stub: " + error);
  return true;
}

// A signature vouches for the stub's bytes as they were; after wrapping it
// would vouch for nothing, and its table would point into the payload. The
// output has to be signed again anyway, so the certificate goes.
bool removeSignature(Bytes& stub, std::vector<std::string>& notes, Failure& f) {
  constexpr unsigned kSecurityDirectory = 4;
  PeLayout pe;
  std::string error;
  if (!parsePe(stub, pe, error) || pe.directoryCount <= kSecurityDirectory) return true;
  const uint32_t offset = pe.directoryAddress(stub, kSecurityDirectory);
  const uint32_t size = pe.directorySize(stub, kSecurityDirectory);
  if (offset == 0 && size == 0) return true;
  if (offset < pe.imageEnd() || !inside(stub, offset, size))
    return fail(f, kBadStub, "stub's certificate table lies outside its appended data");
  stub.erase(stub.begin() + offset, stub.begin() + offset + size);
  put32(stub, pe.dataDirectories + 8ull * kSecurityDirectory, 0);
  put32(stub, pe.dataDirectories + 8ull * kSecurityDirectory + 4, 0);
  notes.push_back("note: the stub was signed; its certificate (" + std::to_string(size) +
                  " bytes) was removed: sign the output again");
  return true;
}

// Every resource change goes through one read of the stub's tree and one
// rewrite of its resource section.
bool writeAppResources(Bytes& stub, const WrapInput& in, Failure& f) {
  ResourceTree tree;
  std::string error;
  if (!readResources(stub, tree, error))
    return fail(f, kBadResources, "cannot read the stub's resources: " + error);
  if (!writeIdentity(tree, in, f)) return false;
  if (in.icon && !setIconGroup(tree, *in.icon, error)) return fail(f, kBadIcon, "--icon: " + error);
  if (in.version.any()) {
    Bytes version;
    if (!buildVersionInfo(in.version, in.outputFileName, version, error))
      return fail(f, kUsage, error);
    setResource(tree, kRtVersion, 1, std::move(version));
  }
  std::string manifest = buildManifest(in.executionLevel, in.utf8CodePage);
  setResource(tree, kRtManifest, 1, Bytes(manifest.begin(), manifest.end()));
  if (!writeResources(stub, tree, error))
    return fail(f, kBadResources, "cannot rewrite the stub's resources: " + error);
  return true;
}

bool buildArchive(const WrapInput& in, Bytes& archive, Failure& f) {
  std::string error;
  ZipView appView;
  if (!parseZip(in.archive, appView, error)) return fail(f, kBadArchive, in.archiveName + ": " + error);
  if (in.merges.empty()) {
    archive = withoutComment(in.archive, appView);
    return true;
  }
  std::vector<ZipView> views(in.merges.size());
  std::vector<ZipSource> sources{{&in.archive, &appView, false}};
  for (size_t i = 0; i < in.merges.size(); ++i) {
    std::string name = i < in.mergeNames.size() ? in.mergeNames[i] : "merged archive";
    if (!parseZip(in.merges[i], views[i], error)) return fail(f, kBadArchive, name + ": " + error);
    sources.push_back({&in.merges[i], &views[i], true});
  }
  if (!mergeZips(sources, archive, error)) return fail(f, kBadArchive, error);
  return true;
}

bool isClassNameText(const std::string& name) {
  std::u16string ignored;
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7F) return false;
  return utf8ToUtf16(name, ignored);
}

// The main class the configuration names, else the manifest's, which then
// goes into the block as its first line: the first mainclass line counts,
// even an empty one. Either is looked for in the archive.
// Returns the line to put in front of the configuration, or empty.
std::string settleMainClass(const Bytes& archive, const std::string& text, WrapResult& result) {
  ZipView view;
  std::string error;
  if (!parseZip(archive, view, error)) return {};
  std::string mainClass = firstValue(text, "mainclass");
  std::string line;
  if (mainClass.empty()) {
    mainClass = manifestMainClass(archive, view);
    // Without one the configuration check reports the missing mainclass.
    if (mainClass.empty() || !isClassNameText(mainClass)) return {};
    line = "mainclass " + mainClass + "\r\n";
    result.notes.push_back("note: " + findingMessage(Finding::MainClassFromManifest, {mainClass}));
  }
  if (!archiveHoldsClass(view, mainClass))
    result.warnings.push_back("configuration: " +
                              findingMessage(Finding::MainClassNotInArchive,
                                             {printable(mainClass),
                                              printable(classEntryName(mainClass))}));
  return line;
}

}  // namespace

bool buildWrapped(const WrapInput& in, WrapResult& result, Failure& f) {
  result = WrapResult{};
  Bytes block;
  std::string error;
  if (!buildConfigBlock(in.config, block, error)) return fail(f, kUsage, error);
  Bytes archive;
  if (!buildArchive(in, archive, f)) return false;

  Bytes& out = result.output;
  out = in.stub;
  if (isPeImage(out)) {
    if (!removeSignature(out, result.notes, f) || !writeAppResources(out, in, f)) return false;
  } else if (in.identity.any() || in.icon || in.version.any()) {
    result.notes.push_back(
        "note: the stub is not a Windows executable; the service, icon and version options "
        "are ignored");
  }
  if (!fillArchiveSlot(out, archive.size(), f)) return false;
  // After the inputs' own faults, so each of those keeps its exit code.
  // The block is mark + text + NUL.
  const std::string text(block.begin() + 3, block.end() - 1);
  const std::string mainClassLine = settleMainClass(archive, text, result);
  block.insert(block.begin() + 3, mainClassLine.begin(), mainClassLine.end());
  for (const ConfigFinding& finding : checkConfig(text, ConfigRole::Embedded)) {
    // Line numbers name the author's lines, so the check reads the text as given.
    if (finding.id == Finding::NoMainClass && !mainClassLine.empty()) continue;
    const std::string where =
        std::string(finding.line > 0 ? "configuration " : "configuration: ") + findingText(finding);
    if (finding.error && !in.allowConfigErrors) return fail(f, kUsage, where);
    if (finding.error)
      result.notes.push_back("error (allowed): " + where);
    else
      result.warnings.push_back(where);
  }

  uint64_t total = out.size() + block.size() + 4 + kDigestSize + archive.size();
  if (total > kMaxFileSize)
    return fail(f, kBadArchive, "wrapped program would be larger than 2 GB");
  out.reserve(total);
  out.insert(out.end(), block.begin(), block.end());
  uint32_t length = static_cast<uint32_t>(block.size());
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(length >> (8 * i)));
  out.insert(out.end(), kDigestSize, 0);
  out.insert(out.end(), archive.begin(), archive.end());

  // Read the result back the way the launcher will; a disagreement is a
  // defect here, never something to ship.
  PayloadLayout layout;
  int64_t end = findArchiveEnd(out.data(), out.size());
  PayloadStatus status = locatePayload(out.data(), out.size(), static_cast<int64_t>(archive.size()), layout);
  if (end < 0 || status != PayloadStatus::Ok || layout.trailingLength != 0 ||
      layout.blockLength != static_cast<int64_t>(block.size()))
    return fail(f, kBadArchive,
                std::string("the launcher would not read this payload back (") +
                    payloadStatusText(status) + ")");
  Digest digest = fileDigest(out.data(), layout);
  std::memcpy(out.data() + layout.digestOffset, digest.data(), digest.size());
  // The checksum covers the payload too, so it comes last; the digest skips it.
  PeLayout pe;
  if (parsePe(out, pe, error) && inside(out, pe.checksumOffset, 4))
    put32(out, pe.checksumOffset, peChecksum(out, pe.checksumOffset));
  return true;
}

}  // namespace qlx::wrap
