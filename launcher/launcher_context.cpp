// Loading the launcher context: the payload of the running file, the
// external configuration file beside it, and the paths that expansion
// offers as built-in variables.
#include "launcher/launcher_context.h"

#include <string>

#include "launcher/config.h"
#include "launcher/mapped_file.h"
#include "launcher/text.h"

namespace qlx {
namespace {

void appendUtf16(std::string& out, const uint8_t* bytes, size_t length, bool bigEndian) {
  const size_t units = (length - 2) / 2;
  for (size_t i = 0; i < units; ++i) {
    const uint8_t a = bytes[2 + 2 * i];
    const uint8_t b = bytes[3 + 2 * i];
    const char16_t unit = bigEndian ? char16_t(a << 8 | b) : char16_t(b << 8 | a);
    if (unit == 0) break;
    appendUnitAsUtf8(out, unit);
  }
}

}  // namespace

void appendConfigurationText(std::string& out, const uint8_t* bytes, size_t length) {
  if (bytes == nullptr || length == 0) return;
  if (length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    // Cut at the first NUL as the other encodings are: the text ends there,
    // and bytes after it would otherwise hide the embedded block behind it.
    std::string_view text(reinterpret_cast<const char*>(bytes + 3), length - 3);
    out.append(text.substr(0, text.find('\0')));
  } else if (length >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    appendUtf16(out, bytes, length, false);
  } else if (length >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
    appendUtf16(out, bytes, length, true);
  } else {
    std::string_view text(reinterpret_cast<const char*>(bytes), length);
    out.append(narrowToUtf8(text.substr(0, text.find('\0'))));
  }
}

void externalConfigCandidates(const std::string& applicationPath, std::string out[4],
                              LeadByteTest isLead) {
  out[0] = applicationPath + ".cfg";
  out[1] = applicationPath + ".config";
  const size_t dot = splitNarrowPath(applicationPath, isLead).extensionDot;
  if (dot == std::string::npos) {
    out[2] = out[0];
    out[3] = out[1];
  } else {
    const std::string stem = applicationPath.substr(0, dot);
    out[2] = stem + ".cfg";
    out[3] = stem + ".config";
  }
}

std::string homeOf(const std::string& path, LeadByteTest isLead) {
  const size_t lastSep = splitNarrowPath(path, isLead).lastSeparator;
  return lastSep == std::string::npos ? std::string() : path.substr(0, lastSep + 1);
}

void refreshStartDirectory(LauncherContext& context) { context.startDirectory = currentDirectory(); }

namespace {

// The steps of loading on their own, each with its own locals: together in
// one frame they would put most of them out of reach of short offsets.

// The configuration block of the payload, as stored.
[[gnu::noinline]] std::string embeddedConfiguration(LauncherContext& context) {
  std::string embedded;
  MappedFile file{OwnExecutable{}};
  const int64_t archiveLength = archiveLengthFromSlot();
  if (!file.valid()) {
    context.payload = PayloadLayout{};
    context.payloadStatus = PayloadStatus::Unreadable;
  } else {
    context.payloadStatus =
        locatePayload(file.data(), file.size(), archiveLength, context.payload);
    if (context.payload.rootJarLength) {
      const uint64_t rootLength = context.payload.fileSize - context.payload.trailingLength;
      setProcessEnvironment("_BROVANE_ROOT_JAR_LENGTH_", decimalText(rootLength));
    }
    if (context.payloadStatus == PayloadStatus::Ok)
      embedded = readConfigBlock(file.data(), context.payload);
  }
  return embedded;
}

// The first external file found, into the configuration text.
[[gnu::noinline]] void readExternalConfiguration(LauncherContext& context,
                                                 const std::string& embeddedText) {
  std::string candidates[4];
  externalConfigCandidates(context.applicationPath, candidates);
  for (const std::string& candidate : candidates) {
    std::string content;
    if (!readConfigFile(candidate, content)) continue;
    appendConfigurationText(context.configText, reinterpret_cast<const uint8_t*>(content.data()),
                            content.size());
    context.externalPath = candidate;
    // The source the program was generated from, left beside it, says
    // nothing new: applied again, every line of many values would count twice.
    context.externalRepeatsEmbedded = sameConfiguration(context.configText, embeddedText);
    if (context.externalRepeatsEmbedded) context.configText.clear();
    break;
  }
}

}  // namespace

void loadConfiguration(LauncherContext& context) {
  context.startDirectory = currentDirectory();
  context.applicationPath = executablePath(&context.applicationPathFaithful);
  context.applicationHome = homeOf(context.applicationPath);

  const std::string embedded = embeddedConfiguration(context);
  std::string embeddedText;
  appendConfigurationText(embeddedText, reinterpret_cast<const uint8_t*>(embedded.data()),
                          embedded.size());

  context.configText.clear();
  readExternalConfiguration(context, embeddedText);
  if (!context.configText.empty()) context.configText.append("\r\n");
  context.externalLength = context.configText.size();
  context.configText.append(embeddedText);

  if (equalsIgnoreCase(lookupValue(context, "disableexternal", true, true), "true")) {
    context.configText.erase(0, context.externalLength);
    context.externalLength = 0;
    context.externalPath.clear();
    context.externalRepeatsEmbedded = false;
  }
}

}  // namespace qlx
