// Catching configuration mistakes before they ship: the launcher ignores
// keys it does not know and falls back to a default for values it cannot
// read, which turns a typing error into behaviour nobody asked for. Lines
// are split into key and value exactly as the launcher's lookup does.
package com.tarnwick.qlx.wrap;

import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

public final class ConfigCheck {
    /** Where a checked text will be read from. */
    public enum Role {
        /** The block inside a wrapped program: `mainclass` is required. */
        EMBEDDED,
        /** A file beside the program, read before the embedded block. */
        EXTERNAL
    }

    /** One finding: an error stops the generator, a warning does not (unless strict). */
    public static final class Finding {
        final Findings kind;
        public final boolean error;
        /** 1-based line of the checked text; 0 for the text as a whole. */
        public final int line;
        public final String message;

        Finding(Findings kind, boolean error, int line, String message) {
            this.kind = kind;
            this.error = error;
            this.line = line;
            this.message = message;
        }

        /** "line 3: ..." (no line number for the whole text). */
        public String text() {
            return (line > 0 ? "line " + line + ": " : "") + message;
        }

        @Override
        public String toString() {
            return (error ? "error: " : "warning: ") + text();
        }
    }

    private ConfigCheck() {}

    /** Checks a Java text (its UTF-8 form is what the launcher reads). */
    public static List<Finding> check(String text, Role role) {
        return checkRaw(Text.rawOf(text), role);
    }

    /** Checks configuration text given as a byte string (any line ends). */
    static List<Finding> checkRaw(String text, Role role) {
        List<Finding> out = new ArrayList<Finding>();
        Map<ConfigKeys.Key, Integer> seen = new HashMap<ConfigKeys.Key, Integer>();
        boolean mainClassSet = false;
        int pos = 0;
        int number = 0;
        int size = text.length();
        while (pos < size) {
            int end = lineEnd(text, pos);
            String line = text.substring(pos, end);
            pos = end + (end + 1 < size && text.charAt(end) == '\r' && text.charAt(end + 1) == '\n' ? 2 : 1);
            ++number;

            String[] split = split(line);
            if (split == null) continue;
            String word = split[0];
            String value = split[1];

            ConfigKeys.Key key = ConfigKeys.find(word);
            if (key == null) {
                out.add(Findings.UNKNOWN_KEY.at(number, Text.printable(word), ConfigKeys.nearest(word)));
                continue;
            }
            if (role == Role.EXTERNAL && key.embeddedOnly) {
                out.add(Findings.EMBEDDED_ONLY_KEY.at(number, key.name));
                continue;
            }
            if (!key.manyValues) {
                Integer first = seen.get(key);
                if (first != null) {
                    out.add(Findings.SET_AGAIN.at(number, key.name, String.valueOf(first)));
                    continue;
                }
                seen.put(key, number);
            }
            if (key.check != null && !value.isEmpty() && !key.check.accepts(value)) {
                out.add(Findings.UNREADABLE_VALUE.at(number, key.name, Text.printable(value), key.form));
            }
            if (key.name.equals("option") && value.indexOf('"') >= 0) {
                out.add(Findings.QUOTED_OPTION.at(number, Text.printable(value),
                        Text.printable(value.replace("\"", ""))));
            }
            if (key.name.equals("mainclass") && !value.isEmpty()) mainClassSet = true;
        }
        if (role == Role.EMBEDDED && !mainClassSet) out.add(Findings.NO_MAIN_CLASS.at(0));
        return out;
    }

    /**
     * A line as {key word, value}, split the way the launcher's lookup does
     * (leading spaces, the key's letters, digits and '_', then spaces and an
     * optional '='); null for a line that belongs to no key.
     */
    private static String[] split(String line) {
        int i = Text.firstNotSpace(line, 0);
        if (i < 0) return null;
        int k = i;
        while (k < line.length() && Text.isWordChar(line.charAt(k))) ++k;
        // Lines that start with anything else (# or ; comments) belong to no key.
        if (k == i) return null;
        int v = Text.firstNotSpace(line, k);
        if (v >= 0 && line.charAt(v) == '=') v = Text.firstNotSpace(line, v + 1);
        return new String[] {line.substring(i, k), v < 0 ? "" : line.substring(v)};
    }

    /**
     * The value of the first line of `key` in a byte string, as the
     * launcher's lookup reads it; empty when no line has the key.
     */
    static String firstValueRaw(String text, String key) {
        int pos = 0;
        int size = text.length();
        while (pos < size) {
            int end = lineEnd(text, pos);
            String[] split = split(text.substring(pos, end));
            if (split != null && Text.lowerAscii(split[0]).equals(key)) return split[1];
            pos = end + (end + 1 < size && text.charAt(end) == '\r' && text.charAt(end + 1) == '\n' ? 2 : 1);
        }
        return "";
    }

    /** The value of the first line of `key` in a Java text, or null when no line belongs to it. */
    public static String firstValue(String text, String key) {
        for (String line : text.split("\r\n|\r|\n", -1)) {
            String[] split = split(line);
            if (split != null && Text.lowerAscii(split[0]).equals(key)) return split[1];
        }
        return null;
    }

    private static int lineEnd(String text, int from) {
        for (int i = from; i < text.length(); ++i) {
            char c = text.charAt(i);
            if (c == '\r' || c == '\n') return i;
        }
        return text.length();
    }
}
