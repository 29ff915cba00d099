// Every text with which the generator reports a mistake in what it is
// given (configuration lines, the archive, where the files lie), in one
// table. Another generator that must report the same findings copies this
// table; nothing else in qlxwrap words a finding.
#pragma once

#include <initializer_list>
#include <string>

namespace qlx::wrap {

enum class Finding {
  UnknownKey,            // %1 the word, %2 the nearest key
  EmbeddedOnlyKey,       // %1 the key
  SetAgain,              // %1 the key, %2 the line that counts
  UnreadableValue,       // %1 the key, %2 the value, %3 the form expected
  NoMainClass,           //
  QuotedOption,          // %1 the value, %2 the value without its quotes
  MainClassFromManifest, // %1 the class
  MainClassNotInArchive, // %1 the class, %2 its entry name
  ConfigBesideOutput,    // %1 the configuration file, %2 the output
};

// An error stops the generator; a warning does not, unless --strict; a
// note says what the generator decided for the author.
enum class Severity { Note, Warning, Error };

struct FindingText {
  Finding id;
  const char* name;  // stable, for tools that match findings
  Severity severity;
  const char* text;  // %1, %2, %3: the values the comment on the id names
};

const FindingText& findingText(Finding id);

// The text of `id` with its placeholders filled in.
std::string findingMessage(Finding id, std::initializer_list<std::string> values = {});

}  // namespace qlx::wrap
