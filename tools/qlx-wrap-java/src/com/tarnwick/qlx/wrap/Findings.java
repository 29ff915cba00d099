// Every text with which the generator reports a mistake in what it is given
// (configuration lines, the archive, where the files lie), in one table:
// qlxwrap has the same table, word for word, and the differential test
// compares what the two say. Nothing else here words a finding.
package com.tarnwick.qlx.wrap;

enum Findings {
    /** %1 the word, %2 the nearest key. */
    UNKNOWN_KEY("unknown-key", Severity.WARNING, "unknown key '%1' is ignored (nearest known key: '%2')"),
    /** %1 the key. */
    EMBEDDED_ONLY_KEY("embedded-only-key", Severity.WARNING,
            "%1 is only read from the embedded configuration: this line is ignored"),
    /** %1 the key, %2 the line that counts. */
    SET_AGAIN("set-again", Severity.WARNING, "%1 is set again: only line %2 counts"),
    /** %1 the key, %2 the value, %3 the form expected. */
    UNREADABLE_VALUE("unreadable-value", Severity.ERROR, "%1 '%2' cannot be read: expected %3"),
    NO_MAIN_CLASS("no-mainclass", Severity.ERROR,
            "no mainclass: the configuration must name the application's main class, or the JAR's "
            + "manifest its Main-Class"),
    /** %1 the value, %2 the value without its quotes. */
    QUOTED_OPTION("quoted-option", Severity.WARNING,
            "option '%1' reaches the VM as written, quotes included: each option line is one VM "
            + "option taken as it stands, blanks too; write option %2 (or use options, which splits "
            + "and unquotes like a command line)"),
    /** %1 the class. */
    MAIN_CLASS_FROM_MANIFEST("mainclass-from-manifest", Severity.NOTE,
            "no mainclass in the configuration: %1, the Main-Class of the JAR's manifest, is used"),
    /** %1 the class, %2 its entry name. */
    MAIN_CLASS_NOT_IN_ARCHIVE("mainclass-not-in-archive", Severity.WARNING,
            "mainclass %1 is in neither the JAR nor a merged archive (no %2): the program will report "
            + "that its main class cannot be found unless its class path brings it"),
    /** %1 the configuration file, %2 the output. */
    CONFIG_BESIDE_OUTPUT("config-beside-output", Severity.WARNING,
            "the configuration file %1 lies where %2 looks for its external configuration: the "
            + "program skips it only while its text equals the embedded block, and applies its lines "
            + "again once it is edited; keep the source elsewhere or under another name");

    /** An error stops the generator; a warning does not, unless strict; a note says what was decided. */
    enum Severity { NOTE, WARNING, ERROR }

    /** Stable, for tools that match findings. */
    final String id;
    final Severity severity;
    private final String text;

    Findings(String id, Severity severity, String text) {
        this.id = id;
        this.severity = severity;
        this.text = text;
    }

    /** The text with %1, %2, ... filled in from `values` (a missing value leaves nothing). */
    String message(String... values) {
        StringBuilder out = new StringBuilder(text.length() + 32);
        for (int i = 0; i < text.length(); ++i) {
            char c = text.charAt(i);
            char next = i + 1 < text.length() ? text.charAt(i + 1) : 0;
            if (c == '%' && next >= '1' && next <= '9') {
                int index = next - '1';
                if (index < values.length) out.append(values[index]);
                ++i;
            } else {
                out.append(c);
            }
        }
        return out.toString();
    }

    ConfigCheck.Finding at(int line, String... values) {
        return new ConfigCheck.Finding(this, severity == Severity.ERROR, line, message(values));
    }
}
