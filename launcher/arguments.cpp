// The command-line tokenizer shared by `argv` lines and wildcard expansion,
// the argument rebuild, and its inverse for service image paths.
#include "launcher/arguments.h"

namespace qlx {

size_t splitArguments(const std::string& text, StringList& list, std::vector<int32_t>* marks) {
  // Marks run parallel to the list, whatever it held before.
  if (marks != nullptr && marks->size() < list.size()) marks->resize(list.size(), kMarkNone);
  const size_t n = text.size();
  size_t i = 0;
  for (;;) {
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i >= n) break;
    std::string argument;
    int32_t mark = kMarkNone;
    bool quoted = false;
    while (i < n) {
      const char c = text[i];
      if (!quoted && (c == ' ' || c == '\t')) break;
      if (c == '\\') {
        size_t run = 0;
        while (i + run < n && text[i + run] == '\\') ++run;
        if (i + run < n && text[i + run] == '"') {
          argument.append(run / 2, '\\');
          if (run % 2 == 1) {
            argument.push_back('"');  // escaped: a literal quote
            i += run + 1;
          } else {
            i += run;  // the quote toggles on the next round
          }
        } else {
          argument.append(run, '\\');
          i += run;
        }
        continue;
      }
      if (c == '"') {
        quoted = !quoted;
        ++i;
        continue;
      }
      if (c == '*' || c == '?') {
        if (quoted)
          mark = kMarkQuoted;
        else if (mark != kMarkQuoted)
          mark = kMarkUnquoted;
      }
      argument.push_back(c);
      ++i;
    }
    list.push_back(std::move(argument));
    if (marks != nullptr) marks->push_back(mark);
  }
  return list.size();
}

int wildcardMode(const std::string& value) {
  if (equalsIgnoreCase(value, "true") || equalsIgnoreCase(value, "auto")) return 1;
  if (equalsIgnoreCase(value, "all")) return 2;
  return 0;
}

StringList rebuildArguments(int mode, const std::string& rawCommandLine,
                            FunctionRef<void(const std::string&, StringList&)> matcher) {
  StringList split;
  std::vector<int32_t> marks;
  splitArguments(rawCommandLine, split, &marks);
  if (mode != 1 && mode != 2) return split;

  StringList out;
  for (size_t i = 0; i < split.size(); ++i) {
    const int32_t mark = marks[i];
    if (mark == kMarkNone || (mark == kMarkQuoted && mode == 1)) {
      out.push_back(split[i]);
      continue;
    }
    StringList matches;
    matcher(split[i], matches);
    if (matches.empty())
      out.push_back(split[i]);
    else
      out.insert(out.end(), matches.begin(), matches.end());
  }
  return out;
}

std::string joinArguments(const StringList& arguments) {
  std::string out;
  for (size_t a = 0; a < arguments.size(); ++a) {
    const std::string& argument = arguments[a];
    if (a > 0) out.push_back(' ');
    if (argument.empty()) {
      out.append("\"\"");
      continue;
    }
    if (argument.find_first_of(" \t\"*?") == std::string::npos) {
      out.append(argument);
      continue;
    }
    out.push_back('"');
    for (size_t i = 0; i < argument.size();) {
      size_t run = 0;
      while (i + run < argument.size() && argument[i + run] == '\\') ++run;
      if (i + run == argument.size()) {
        out.append(run * 2, '\\');  // doubled before the closing quote
        i += run;
      } else if (argument[i + run] == '"') {
        out.append(run * 2 + 1, '\\');
        out.push_back('"');
        i += run + 1;
      } else {
        out.append(run, '\\');
        out.push_back(argument[i + run]);
        i += run + 1;
      }
    }
    out.push_back('"');
  }
  return out;
}

}  // namespace qlx
