// Catching configuration mistakes before they ship: the launcher ignores
// keys it does not know and falls back to a default for values it cannot
// read, which turns a typing error into behaviour nobody asked for. The
// generator knows every key and the form of every value with a fixed form,
// and says what is wrong while the author can still fix it.
#pragma once

#include <string>
#include <vector>

#include "tools/qlxwrap/finding_texts.h"

namespace qlx::wrap {

// One configuration key as the launcher reads it. `form` says in words
// what `valid` accepts; keys whose value is free text have neither.
struct ConfigKey {
  const char* name;
  bool embeddedOnly;  // an external configuration file cannot set it
  bool manyValues;    // every line counts, not only the first
  const char* form;
  bool (*valid)(const std::string& value);
};

// Every key the launcher reads, one entry each.
const std::vector<ConfigKey>& configKeys();

// Where a checked text will be read from.
enum class ConfigRole {
  Embedded,  // the block inside a wrapped program: `mainclass` is required
  External,  // a file beside the program, read before the embedded block
};

struct ConfigFinding {
  Finding id = Finding::UnknownKey;
  bool error = false;  // an error stops the generator; a warning does not
  int line = 0;        // 1-based; 0 for the text as a whole
  std::string message;
};

// Checks configuration text (UTF-8, any line ends). Findings come in line
// order, whole-text findings last.
std::vector<ConfigFinding> checkConfig(const std::string& text, ConfigRole role);

// The value of the first line of `key`, as the launcher's lookup reads it
// (empty when no line has the key).
std::string firstValue(const std::string& text, const std::string& key);

// A finding as one line: "line 3: ..." (no line number for the whole text).
std::string findingText(const ConfigFinding& finding);

// The known key nearest to `word` (fewest single-character edits).
std::string nearestKey(const std::string& word);

// `text` with every character a terminal would act on instead of showing
// (controls, invalid UTF-8, direction overrides) written as \xNN or \uNNNN.
std::string printable(const std::string& text);

}  // namespace qlx::wrap
