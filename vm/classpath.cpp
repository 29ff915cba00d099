// Class path assembly. The launcher file itself always comes first: the
// application archive sits at its end, so the VM reads classes straight out
// of it. Entries are built by concatenation and never normalised.
#include "vm/classpath.h"

#include <algorithm>
#include <vector>

#include "launcher/config.h"
#include "launcher/expand.h"
#include "launcher/text.h"

namespace qlx {

namespace {

// Archive trees deeper than this are not followed, whatever the walk below
// can tell about the directories it has seen.
constexpr int kMaxArchiveDepth = 32;

bool isArchiveName(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string extension = name.substr(dot);
  return equalsAsciiIgnoreCase(extension, ".jar") || equalsAsciiIgnoreCase(extension, ".zip");
}

// One walk of a library directory. Links and junctions that point back up
// the tree would make it list the same directories again and again (two of
// them double the work at every level), so each directory is listed once,
// known by its identity rather than by the path that reached it.
class ArchiveWalk {
 public:
  ArchiveWalk(Os& os, std::string& out) : os_(os), out_(out) {}

  void collect(const std::string& directory, int depth) {
    std::string dir = directory;
    if (!endsWithSeparator(dir, isNarrowLeadByte)) dir += '/';
    FileIdentity identity;
    if (os_.directoryIdentity(dir, identity)) {
      if (std::find(walked_.begin(), walked_.end(), identity) != walked_.end()) return;
      walked_.push_back(identity);
    }
    std::vector<DirEntry> entries;
    if (!os_.listDirectory(dir + "*", entries)) return;
    for (const DirEntry& entry : entries) {
      if (entry.isDirectory) {
        if (entry.name == "." || entry.name == "..") continue;
        if (depth < kMaxArchiveDepth) collect(dir + entry.name, depth + 1);
      } else if (isArchiveName(entry.name)) {
        out_ += kPathListSeparator;
        out_ += dir;
        out_ += entry.name;
      }
    }
  }

 private:
  Os& os_;
  std::string& out_;
  // Library trees hold few directories; a list keeps the stub smaller than
  // a tree-based set would.
  std::vector<FileIdentity> walked_;
};

void appendEnvironmentEntry(Os& os, const char* name, std::string& out) {
  const std::optional<std::string> value = os.getEnv(name);
  if (!value) return;
  // Appended as the environment holds it, even when empty.
  out += kPathListSeparator;
  out += *value;
}

}  // namespace

void collectArchives(Os& os, const std::string& directory, std::string& out) {
  ArchiveWalk(os, out).collect(directory, 0);
}

std::string assembleClassPath(const LauncherContext& context, Os& os, bool second) {
  std::string pathList;
  lookupValues(
      context, second ? "classpath" : "java_classpath",
      [&](const std::string& value) { expandPathList(context, os, pathList, value); }, false, true);

  std::string half = second ? pathList : context.applicationPath + pathList;

  StringList libraryDirectories;
  lookupExpandedValues(context, os, second ? "libs" : "java_libs", libraryDirectories, true);
  for (const std::string& directory : libraryDirectories) {
    // An empty line names no directory. Resolving it would give the empty
    // text, and listing "" + "/" would walk the whole root of the drive.
    if (directory.empty()) continue;
    collectArchives(os, resolveAppPath(context, os, directory), half);
  }

  if (second) {
    appendEnvironmentEntry(os, "CLASSPATH", half);
    appendEnvironmentEntry(os, "CLASS_PATH", half);
  }
  // With a root archive length recorded, the first half ends with one more
  // entry for the root archive. This launcher has nothing to name there; the
  // separator stays so the class path text keeps its expected shape (the
  // empty entry adds nothing the trailing separator does not already add).
  if (!second && context.payload.rootJarLength) half += kPathListSeparator;
  return half;
}

std::string buildClassPath(const LauncherContext& context, Os& os) {
  return assembleClassPath(context, os, false) + kPathListSeparator +
         assembleClassPath(context, os, true);
}

}  // namespace qlx
