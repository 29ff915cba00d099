// The launcher context: the configuration text and the paths every later
// step reads. Built once by start-up and published through processState().
#pragma once

#include <cstdint>
#include <string>

#include "launcher/payload.h"
#include "launcher/text.h"

namespace qlx {

struct LauncherContext {
  std::string configText;        // UTF-8; external part first, then the embedded block
  size_t externalLength = 0;     // bytes of configText that came from the external file
  std::string externalPath;      // the external file read, empty when none
  bool externalRepeatsEmbedded = false;  // it held the embedded text: not applied
  std::string applicationPath;   // full path of the executable
  bool applicationPathFaithful = true;  // false: the ANSI code page cannot spell it
  std::string applicationHome;   // its directory with the trailing separator
  std::string startDirectory;    // current directory, ending in a separator
  std::string vmValue;           // cached `vm` key, empty until first asked
  PayloadLayout payload;         // where the payload lies in the file
  PayloadStatus payloadStatus = PayloadStatus::NoArchiveLength;
};

// Normalises a configuration block or file to UTF-8 by its byte order mark
// and appends it to `out`.
void appendConfigurationText(std::string& out, const uint8_t* bytes, size_t length);

// Candidate names of the external configuration file, in the order tried.
void externalConfigCandidates(const std::string& applicationPath, std::string out[4],
                              LeadByteTest isLead = isNarrowLeadByte);

// Fills the context from the running executable (its path, its payload and
// the external configuration file). Platform work is in
// launcher_context_win.cpp / launcher_context_posix.cpp; the portable steps
// are in launcher_context.cpp.
void loadConfiguration(LauncherContext& context);

// Re-reads the current directory into startDirectory.
void refreshStartDirectory(LauncherContext& context);

// The archive length the generator wrote into this image's slot (first 4
// bytes, signed). Copies the slot first and dumps it to stdout when
// _BROVANE_BINARY_DEBUG_ is set (archive_slot.cpp).
int64_t archiveLengthFromSlot();

// Platform side (launcher_context_win.cpp / launcher_context_posix.cpp).
// The executable's path as narrow text (/proc/self/exe on Linux). On
// Windows, when the ANSI code page cannot spell it, its short form if that
// can; else the lossy form, and `faithful` (when given) becomes false.
std::string executablePath(bool* faithful = nullptr);
std::string currentDirectory();  // GetCurrentDirectoryA(260), separator appended
// Whole file, when the access test for reading and the open both succeed.
bool readConfigFile(const std::string& path, std::string& out);
// NAME=VALUE in the runtime's environment and the process environment block.
void setProcessEnvironment(const std::string& name, const std::string& value);

// Application home of a path: up to and including its last '\' or '/'.
std::string homeOf(const std::string& path, LeadByteTest isLead = isNarrowLeadByte);

}  // namespace qlx
