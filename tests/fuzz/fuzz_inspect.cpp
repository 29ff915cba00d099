// Fuzzes qlxwrap --inspect's reader over arbitrary files (payload, PE
// headers, resource tree, string block, icon group, version block), whose
// report must never carry a control character but its line ends; the
// configuration check and the icon reader over the same bytes; and the
// resource writer on whatever tree it reads: a rewritten section must read
// back as the same tree.
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/qlxwrap/app_resources.h"
#include "tools/qlxwrap/config_check.h"
#include "tools/qlxwrap/inspect.h"
#include "tools/qlxwrap/resource_tree.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qlx::wrap;
  Bytes file(data, data + size);
  InspectResult r = inspectFile(file, "C:\\apps\\tool.exe",
                                [](const std::string& name) { return name.size() % 3 == 0; });
  if (r.code != kOk && r.code != kInspectModified && r.code != kInspectNoPayload) std::abort();
  auto inert = [](const std::string& text) {
    for (unsigned char c : text)
      if ((c < 0x20 && c != '\n') || c == 0x7F) std::abort();
  };
  inert(r.text);
  const std::string text(data, data + size);
  for (ConfigRole role : {ConfigRole::Embedded, ConfigRole::External})
    for (const ConfigFinding& f : checkConfig(text, role)) inert(findingText(f));

  ResourceTree icons;
  std::string iconError;
  if (!setIconGroup(icons, file, iconError) && iconError.empty()) std::abort();

  ResourceTree tree;
  std::string error;
  if (!readResources(file, tree, error) || tree.empty()) return 0;
  Bytes rewritten = file;
  if (!writeResources(rewritten, tree, error)) return 0;
  ResourceTree back;
  if (!readResources(rewritten, back, error) || back.size() != tree.size()) std::abort();
  for (auto t = tree.begin(), u = back.begin(); t != tree.end(); ++t, ++u) {
    if (t->second.size() != u->second.size()) std::abort();
    for (auto n = t->second.begin(), m = u->second.begin(); n != t->second.end(); ++n, ++m) {
      if (n->second.size() != m->second.size()) std::abort();
      for (auto l = n->second.begin(), k = m->second.begin(); l != n->second.end(); ++l, ++k)
        if (l->first != k->first || l->second.bytes != k->second.bytes) std::abort();
    }
  }
  return 0;
}
