// Messages: the override table built from `message id=text` lines, the
// escape rules of override texts, safe placeholder filling, and printing.
// Message texts come from configuration files, so none of them is ever
// handed to printf as a format.
#include "launcher/messages.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "launcher/config.h"
#include "launcher/expand.h"
#include "launcher/process_state.h"
#include "launcher/trace.h"
#include "launcher/threading.h"

namespace qlx {
namespace {

// The id part as the runtime's string-to-integer conversion reads it:
// leading blanks, an optional sign, decimal digits up to the first other
// character. Saturates instead of overflowing.
long long parseId(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    if (value < INT_MAX) value = value * 10 + (text[i] - '0');
    ++i;
  }
  if (value > INT_MAX) value = INT_MAX;
  return negative ? -value : value;
}

MessageOverrides gOverrides;
Once gOverridesBuilt;

}  // namespace

std::string unescapeMessage(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    // A braced reference is expanded afterwards as written: the backslashes
    // of ${HKLM\Software\Key\Value} separate keys, they escape nothing.
    if ((text[i] == '$' || text[i] == '%') && i + 1 < text.size() && text[i + 1] == '{') {
      const size_t close = text.find('}', i + 2);
      const size_t end = close == std::string_view::npos ? text.size() : close + 1;
      out.append(text.substr(i, end - i));
      i = end - 1;
      continue;
    }
    if (text[i] != '\\') {
      out.push_back(text[i]);
      continue;
    }
    if (++i == text.size()) break;  // a final backslash ends the text
    switch (text[i]) {
      case 'n': out.push_back('\n'); break;
      case 'r': out.push_back('\r'); break;
      case 't': out.push_back('\t'); break;
      default: out.push_back(text[i]); break;
    }
  }
  return out;
}

std::string fillPlaceholders(std::string_view format, std::initializer_list<std::string_view> args,
                             size_t limit) {
  std::string out;
  auto next = args.begin();
  for (size_t i = 0; i < format.size() && out.size() < limit; ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      if (format[i + 1] == 's') {
        if (next != args.end()) out.append(*next++);
        ++i;
        continue;
      }
      if (format[i + 1] == '%') {
        out.push_back('%');
        ++i;
        continue;
      }
    }
    out.push_back(format[i]);
  }
  if (out.size() > limit) out.resize(limit);
  return out;
}

void MessageOverrides::build(const LauncherContext& context, Os& os) {
  entries_.clear();
  lookupValues(
      context, "message",
      [&](const std::string& line) {
        // The escapes belong to the text as written: unescaping after the
        // expansion would also eat the backslashes of an inserted path
        // (C:\temp of %APPDATA% would become C, colon, tab, "emp").
        const size_t eq = line.find('=');
        if (eq == std::string::npos) return;
        const std::string idText = expandValue(context, os, line.substr(0, eq), false);
        const long long id = parseId(idText);
        if (id <= 0) return;
        const std::string text = unescapeMessage(std::string_view(line).substr(eq + 1));
        entries_.emplace_back(static_cast<int>(id), expandValue(context, os, text, false));
      },
      false, true);
}

const std::string* MessageOverrides::find(int id) const {
  for (const auto& entry : entries_)
    if (entry.first == id) return &entry.second;
  return nullptr;
}

std::string messageText(int id) {
  // Built once, from the published context; until it is published there
  // is no configuration to read, and the table is not frozen empty.
  const LauncherContext* context = processState().context;
  if (context != nullptr) {
    gOverridesBuilt.run([&] { gOverrides.build(*context, systemOs()); });
    if (const std::string* text = gOverrides.find(id)) return *text;
  }
  return stringTableText(id);
}

std::string messageWith(int id, std::initializer_list<std::string_view> args, size_t limit) {
  return fillPlaceholders(messageText(id), args, limit);
}

namespace {

// The same bytes "%s\n" would write, without the runtime's formatter.
void writeLine(const std::string& text, FILE* stream) {
  std::fputs(text.c_str(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

}  // namespace

void printMessage(const std::string& text) {
  writeLine(text, stderr);
  if (!processState().sameDestination) writeLine(text, stdout);
  if (startOutputRedirected()) writeStartOutput(text + "\n");
}

void printWarningOnce(const std::string& text) {
  // Values are expanded again on later lookups; the user needs each once.
  static StringList warned;
  for (const std::string& seen : warned)
    if (seen == text) return;
  warned.push_back(text);
  if (tracing()) trace(text.c_str());
  writeLine(text, stderr);
}

void printResult(const std::string& text) {
  writeLine(text, stdout);
  if (startOutputRedirected()) writeStartOutput(text + "\n");
}

void printProgress(const std::string& text) {
  if (startOutputInteractive()) writeStartOutput(text);
}

void reportFatal(int id) {
  printMessage(messageText(id));
  std::exit(id);
}

}  // namespace qlx
