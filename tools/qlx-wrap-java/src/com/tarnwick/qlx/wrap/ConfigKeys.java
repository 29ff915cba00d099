// Every key the launcher reads: its name, whether only the embedded block
// may set it, whether every line counts, and for a value of a fixed form the
// words of the error and the check. A new key is one line here.
package com.tarnwick.qlx.wrap;

import java.util.Arrays;
import java.util.Collections;
import java.util.List;

public final class ConfigKeys {
    /** One configuration key as the launcher reads it. */
    public static final class Key {
        public final String name;
        public final boolean embeddedOnly;
        public final boolean manyValues;
        /** What the check accepts, in words; null for free text. */
        public final String form;
        final ValueForms.Form check;

        Key(String name, boolean embeddedOnly, boolean manyValues, String form, ValueForms.Form check) {
            this.name = name;
            this.embeddedOnly = embeddedOnly;
            this.manyValues = manyValues;
            this.form = form;
            this.check = check;
        }
    }

    private static final String VERSION_FORM = "a Java version: 1 to 4 numbers joined by '.' or '_' (17, 1.8.0_392)";

    // Keys with a fixed form first, then the free ones.
    private static final List<Key> KEYS = Collections.unmodifiableList(Arrays.asList(
            key("minjre", false, false, VERSION_FORM, ValueForms::isVersion),
            key("maxjre", false, false, VERSION_FORM, ValueForms::isVersion),
            key("jre_order", false, false, "letters of \"cbsiev\"", ValueForms::isSearchOrder),
            key("singleinstance", false, false, "true, handover, custom or false",
                    v -> ValueForms.oneOf(v, "true", "handover", "custom", "false")),
            key("wildcard", false, false, "true, auto, all or false",
                    v -> ValueForms.oneOf(v, "true", "auto", "all", "false")),
            key("mainargv", false, false, "c, s, cs or sc", ValueForms::isArgumentSources),
            key("disableexternal", true, false, "true or false", v -> ValueForms.oneOf(v, "true", "false")),
            key("stoptimeout", false, false, "a whole number of seconds from 1 to 3600", ValueForms::isSeconds),
            key("instancefilter", false, false, "class patterns (a.B, a.*, a.**, a.B*, *; ! refuses) and limits "
                    + "(maxdepth=, maxrefs=, maxarray=, maxbytes= and a number) separated by ';', with at least "
                    + "one pattern, such as com.example.**;!*",
                    ValueForms::isFilterPattern),
            free("classdata", false, false), // auto, off or a folder
            key("logrotate", false, false, "a size such as 10M, daily or start (several: comma-separated)",
                    ValueForms::isRotateTriggers),
            key("logkeep", false, false, "a whole number from 0 to 9999", ValueForms::isKeepCount),
            key("logmaxage", false, false, "an age such as 30d, 12h, 90m, 45s or 2w", ValueForms::isAge),
            free("appid", false, false),
            free("argv", false, true),
            free("classpath", false, true),
            free("export", false, true),
            free("forcecwd", false, false),
            free("java_classpath", false, true),
            free("java_libs", false, true),
            free("jre", false, false),
            free("jvmdll", false, false),
            free("libs", false, true),
            free("mainclass", true, false),
            free("message", false, true),
            free("option", false, true),
            free("options", false, true),
            free("property", false, true),
            free("stderr", false, false),
            free("stdout", false, false),
            free("vm", false, false)));

    private ConfigKeys() {}

    private static Key key(String name, boolean embeddedOnly, boolean many, String form, ValueForms.Form check) {
        return new Key(name, embeddedOnly, many, form, check);
    }

    private static Key free(String name, boolean embeddedOnly, boolean many) {
        return new Key(name, embeddedOnly, many, null, null);
    }

    public static List<Key> all() {
        return KEYS;
    }

    /** The key named `word` (any case), or null. */
    static Key find(String word) {
        String w = Text.lowerAscii(word);
        for (Key k : KEYS) {
            if (w.equals(k.name)) return k;
        }
        return null;
    }

    /** The known key nearest to `word` (fewest single-character edits; the first on a tie). */
    public static String nearest(String word) {
        String w = Text.lowerAscii(word);
        Key best = KEYS.get(0);
        int bestDistance = Integer.MAX_VALUE;
        for (Key k : KEYS) {
            int d = ServiceSettings.editDistanceIgnoreCase(w, k.name);
            if (d < bestDistance) {
                best = k;
                bestDistance = d;
            }
        }
        return best.name;
    }
}
