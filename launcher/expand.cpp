// Value expansion: one left-to-right pass that replaces %NAME%, %{NAME}%,
// $NAME and ${NAME} by the environment, the built-in variables or the
// registry, and keeps whatever it cannot resolve as written.
#include "launcher/expand.h"

#include <cctype>
#include <cstdio>

#include "launcher/config.h"
#include "launcher/text.h"

namespace qlx {
namespace {

// REG_EXPAND_SZ data is expanded again, so registry references nest. The
// depth limit stops a value that names itself; the budget stops a value
// that names itself several times from multiplying the work at every level.
struct Nesting {
  int depth = 0;
  int registryBudget = 64;
};

std::string expandAt(const LauncherContext& context, Os& os, std::string_view text, bool utf8,
                     Nesting& nesting);
std::optional<std::string> registryAt(const LauncherContext& context, Os& os,
                                      std::string_view name, Nesting& nesting);

bool isNameChar(char c) {
  return c == '_' || std::isalnum(static_cast<unsigned char>(c));
}

bool hasHighByte(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  return false;
}

std::optional<std::string> resolveName(const LauncherContext& context, Os& os,
                                       const std::string& name, Nesting& nesting) {
  if (auto value = os.getEnv(name)) return value;
  if (auto value = builtinVariable(context, os, name)) return value;
  return registryAt(context, os, name, nesting);
}

std::string expandAt(const LauncherContext& context, Os& os, std::string_view text, bool utf8,
                     Nesting& nesting) {
  std::string out;
  out.reserve(text.size());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const size_t intro = text.find_first_of("%$", i);
    if (intro == std::string_view::npos) {
      out.append(text.substr(i));
      break;
    }
    out.append(text.substr(i, intro - i));
    const char introducer = text[intro];
    size_t nameBegin = intro + 1;
    size_t nameEnd;
    size_t after;  // first character after the name (after '}' in the brace form)
    if (nameBegin < n && text[nameBegin] == '{') {
      ++nameBegin;
      const size_t close = text.find('}', nameBegin);
      nameEnd = close == std::string_view::npos ? n : close;
      after = close == std::string_view::npos ? n : close + 1;
    } else {
      nameEnd = nameBegin;
      while (nameEnd < n && isNameChar(text[nameEnd])) ++nameEnd;
      after = nameEnd;
    }

    if (nameEnd == nameBegin) {
      if (after < n && text[after] == introducer) {  // %% $$ %{}% ${}$
        out.push_back(introducer);
        i = after + 1;
      } else {
        out.push_back(introducer);
        i = intro + 1;
      }
      continue;
    }

    size_t end = after;
    if (introducer == '%') {
      if (after >= n || text[after] != '%') {  // no closing '%': plain text
        out.append(text.substr(intro, after - intro));
        i = after;
        continue;
      }
      end = after + 1;
    }

    const std::string name(text.substr(nameBegin, nameEnd - nameBegin));
    std::optional<std::string> value = resolveName(context, os, name, nesting);
    if (!value) {
      const std::string_view reference = text.substr(intro, end - intro);
      out.append(reference);
      // A closed reference is meant as one; a bare $NAME is as often plain
      // text (Outer$Inner, a price), so only the closed forms are reported.
      if (introducer == '%' || nameBegin > intro + 1)
        os.warn("Warning: " + std::string(reference) +
                " in the configuration is not set; it stays as written.");
    } else if (utf8 && hasHighByte(*value)) {
      out.append(narrowToUtf8(*value));
    } else {
      out.append(*value);
    }
    i = end;
  }
  return out;
}

struct RootPrefix {
  const char* prefix;
  RegistryRoot root;
};

constexpr RootPrefix kRootPrefixes[] = {
    {"HKCR\\", RegistryRoot::ClassesRoot},
    {"HKCU\\", RegistryRoot::CurrentUser},
    {"HKLM\\", RegistryRoot::LocalMachine},
    {"HKU\\", RegistryRoot::Users},
    {"HKCC\\", RegistryRoot::CurrentConfig},
    {"HKEY_CLASSES_ROOT\\", RegistryRoot::ClassesRoot},
    {"HKEY_CURRENT_USER\\", RegistryRoot::CurrentUser},
    {"HKEY_LOCAL_MACHINE\\", RegistryRoot::LocalMachine},
    {"HKEY_USERS\\", RegistryRoot::Users},
    {"HKEY_CURRENT_CONFIG\\", RegistryRoot::CurrentConfig},
};

uint32_t dwordOf(const std::string& bytes, bool bigEndian) {
  // Short data is padded with zero bytes rather than read past its end.
  uint8_t b[4] = {0, 0, 0, 0};
  for (size_t i = 0; i < 4 && i < bytes.size(); ++i) b[i] = static_cast<uint8_t>(bytes[i]);
  if (bigEndian) return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
  return uint32_t(b[3]) << 24 | uint32_t(b[2]) << 16 | uint32_t(b[1]) << 8 | b[0];
}

std::optional<std::string> registryAt(const LauncherContext& context, Os& os,
                                      std::string_view name, Nesting& nesting) {
  const RootPrefix* root = nullptr;
  for (const RootPrefix& candidate : kRootPrefixes) {
    const std::string_view prefix(candidate.prefix);
    if (name.substr(0, prefix.size()) == prefix) {
      root = &candidate;
      name.remove_prefix(prefix.size());
      break;
    }
  }
  std::optional<std::string> fallback;
  const size_t bar = name.find('|');
  if (bar != std::string_view::npos) {
    fallback = std::string(name.substr(bar + 1));
    name = name.substr(0, bar);
  }
  if (root == nullptr) return fallback;
  // Past the limits the registry is not read: the reference resolves like a
  // missing value (its default text, or it stays as written).
  if (nesting.depth >= kMaxRegistryExpansionDepth || nesting.registryBudget <= 0) return fallback;
  --nesting.registryBudget;

  const size_t slash = name.rfind('\\');
  const std::string subkey(slash == std::string_view::npos ? name : name.substr(0, slash));
  const std::string valueName(slash == std::string_view::npos ? std::string_view()
                                                              : name.substr(slash + 1));
  RegistryData data;
  if (!os.readRegistry(root->root, subkey, valueName, data)) return fallback;

  switch (data.type) {
    case 1:  // REG_SZ
    case 2: {  // REG_EXPAND_SZ
      std::string text = data.bytes.substr(0, data.bytes.find('\0'));
      if (data.type == 1) return text;
      ++nesting.depth;
      std::string expanded = expandAt(context, os, text, false, nesting);
      --nesting.depth;
      return expanded;
    }
    case 4:  // REG_DWORD
    case 5: {  // REG_DWORD_BIG_ENDIAN
      // Signed, as the registry tools print it: 0xFFFFFFFF reads -1.
      return decimalText(static_cast<int32_t>(dwordOf(data.bytes, data.type == 5)));
    }
    default:
      return std::string();
  }
}

}  // namespace

std::string expandValue(const LauncherContext& context, Os& os, std::string_view text, bool utf8) {
  Nesting nesting;
  return expandAt(context, os, text, utf8, nesting);
}

std::optional<std::string> builtinVariable(const LauncherContext& context, Os& os,
                                           std::string_view name) {
  if (equalsIgnoreCase(name, "APPLICATION_HOME")) return context.applicationHome;
  if (equalsIgnoreCase(name, "PWD")) return context.startDirectory;
  if (equalsIgnoreCase(name, "QLX_APP_PATH")) return context.applicationPath;
  if (equalsIgnoreCase(name, "ARCH")) return std::string("x86");
  if (equalsIgnoreCase(name, "HOME")) {
    // Known but empty when either half is missing, so %HOME% disappears
    // instead of staying in the text.
    auto drive = os.getEnv("HOMEDRIVE");
    auto path = os.getEnv("HOMEPATH");
    if (!drive || !path) return std::string();
    return *drive + *path;
  }
  return std::nullopt;
}

std::optional<std::string> registryValue(const LauncherContext& context, Os& os,
                                         std::string_view name) {
  Nesting nesting;
  return registryAt(context, os, name, nesting);
}

void expandLine(const LauncherContext& context, Os& os, StringList& list, const std::string& value) {
  list.push_back(expandValue(context, os, value, false));
}

void expandLineUtf8(const LauncherContext& context, Os& os, StringList& list,
                    const std::string& value) {
  list.push_back(expandValue(context, os, value, true));
}

void expandPathList(const LauncherContext& context, Os& os, std::string& out,
                    const std::string& value) {
  size_t pos = 0;
  while (pos <= value.size()) {
    size_t semi = value.find(';', pos);
    if (semi == std::string::npos) semi = value.size();
    const std::string element = value.substr(pos, semi - pos);
    pos = semi + 1;
    if (element.empty()) continue;
    const std::string expanded = expandValue(context, os, element, false);
    if (expanded.find_first_of("*?") != std::string::npos) {
      StringList matches;
      findMatches(os, expanded, matches);
      for (const std::string& match : matches) {
        out.push_back(kPathListSeparator);
        out.append(match);
      }
    } else {
      out.push_back(kPathListSeparator);
      out.append(resolveAppPath(context, os, expanded));
    }
  }
}

void lookupExpandedValues(const LauncherContext& context, Os& os, std::string_view key,
                          StringList& list, bool toNarrow) {
  lookupValues(
      context, key,
      [&](const std::string& value) {
        if (toNarrow)
          expandLine(context, os, list, value);
        else
          expandLineUtf8(context, os, list, value);
      },
      false, toNarrow);
}

const std::string& vmKeyValue(LauncherContext& context, Os& os) {
  if (context.vmValue.empty()) {
    context.vmValue = expandValue(context, os, lookupValue(context, "vm", false, true), false);
    if (context.vmValue.empty()) context.vmValue = "-";
  }
  return context.vmValue;
}

void findMatches(Os& os, const std::string& pattern, StringList& list) {
  const size_t wild = pattern.find_first_of("*?");
  if (wild == std::string::npos) {
    if (os.exists(pattern)) list.push_back(pattern);
    return;
  }
  const size_t lastSep = pattern.find_last_of("\\/", wild);
  const std::string prefix = lastSep == std::string::npos ? "" : pattern.substr(0, lastSep + 1);
  const size_t nextSep = pattern.find_first_of("\\/", wild);
  const std::string component = pattern.substr(
      prefix.size(), nextSep == std::string::npos ? std::string::npos : nextSep - prefix.size());

  std::vector<DirEntry> entries;
  os.listDirectory(prefix + component, entries);
  for (const DirEntry& entry : entries) {
    if (entry.name == "." || entry.name == "..") continue;
    if (nextSep == std::string::npos)
      list.push_back(prefix + entry.name);
    else if (entry.isDirectory)
      findMatches(os, prefix + entry.name + pattern.substr(nextSep), list);
  }
}

std::string resolveAppPath(const LauncherContext& context, Os& os, const std::string& path) {
  if (path.empty()) return {};
  if (isSeparator(path[0]) || (path.size() > 1 && path[1] == ':')) return path;
  const std::string fromHome = context.applicationHome + path;
  if (os.isReadable(fromHome)) return fromHome;
  const std::string fromStart = context.startDirectory + path;
  if (os.isReadable(fromStart)) return fromStart;
  return fromHome;
}

}  // namespace qlx
