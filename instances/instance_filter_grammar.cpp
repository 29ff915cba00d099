// The grammar of instance filters, as InstanceFilter reads them. Only the
// generator checks a filter here; the launcher hands it to Java as it is.
#include "instances/instance_filter.h"

namespace qlx {

namespace {

bool endsWith(const std::string& text, const char* tail) {
  const std::string t(tail);
  return text.size() >= t.size() && text.compare(text.size() - t.size(), t.size(), t) == 0;
}

// Dot-separated parts of letters, digits, '_', '$' or bytes beyond ASCII
// (the value is UTF-8).
bool isClassName(const std::string& name) {
  bool partStart = true;
  for (unsigned char c : name) {
    if (c == '.') {
      if (partStart) return false;
      partStart = true;
      continue;
    }
    const bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '_' || c == '$' || c >= 0x80;
    if (!word) return false;
    partStart = false;
  }
  return !partStart;
}

bool isLimit(const std::string& element) {
  const size_t equals = element.find('=');
  const std::string key = element.substr(0, equals), digits = element.substr(equals + 1);
  if (key != "maxdepth" && key != "maxrefs" && key != "maxarray" && key != "maxbytes") return false;
  if (digits.empty() || digits.size() > 18) return false;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool isPattern(const std::string& element) {
  const std::string body = element[0] == '!' ? element.substr(1) : element;
  if (body == "*") return true;
  size_t tail = 0;
  if (endsWith(body, ".**")) {
    tail = 3;
  } else if (endsWith(body, ".*")) {
    tail = 2;
  } else if (endsWith(body, "*")) {
    tail = 1;
  }
  return isClassName(body.substr(0, body.size() - tail));
}

}  // namespace

std::string instanceFilterProblem(const std::string& filter) {
  bool classes = false;
  size_t start = 0;
  while (start <= filter.size()) {
    size_t stop = filter.find(';', start);
    if (stop == std::string::npos) stop = filter.size();
    // Blanks and control characters around an element are dropped, as
    // Java's String.trim does.
    size_t first = start, last = stop;
    while (first < last && static_cast<unsigned char>(filter[first]) <= ' ') ++first;
    while (last > first && static_cast<unsigned char>(filter[last - 1]) <= ' ') --last;
    const std::string element = filter.substr(first, last - first);
    start = stop + 1;
    if (element.empty()) continue;
    if (element.find('=') != std::string::npos) {
      if (!isLimit(element)) return "bad limit " + element;
    } else if (!isPattern(element)) {
      return "bad pattern " + element;
    } else {
      classes = true;
    }
  }
  return classes ? std::string() : "no class pattern";
}

}  // namespace qlx
