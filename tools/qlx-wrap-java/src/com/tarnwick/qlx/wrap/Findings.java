// The texts of every configuration finding, in one table: the native
// generator says the same words, and the differential test compares them.
package com.tarnwick.qlx.wrap;

enum Findings {
    UNKNOWN_KEY(false, "unknown key '%s' is ignored (nearest known key: '%s')"),
    EMBEDDED_ONLY(false, "%s is only read from the embedded configuration: this line is ignored"),
    SET_AGAIN(false, "%s is set again: only line %s counts"),
    UNREADABLE_VALUE(true, "%s '%s' cannot be read: expected %s"),
    NO_MAIN_CLASS(true, "no mainclass: the configuration must name the application's main class");

    final boolean error;
    private final String template;

    Findings(boolean error, String template) {
        this.error = error;
        this.template = template;
    }

    ConfigCheck.Finding at(int line, Object... values) {
        return new ConfigCheck.Finding(this, error, line, String.format(java.util.Locale.ROOT, template, values));
    }
}
