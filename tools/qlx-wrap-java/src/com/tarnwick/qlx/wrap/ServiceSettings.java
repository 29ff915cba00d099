// The service's install-time defaults as the launcher reads them back from
// the stub ("key=value" lines): start type, account, recovery, failonexit.
// A value is accepted here exactly when the launcher's parser takes it.
package com.tarnwick.qlx.wrap;

final class ServiceSettings {
    private ServiceSettings() {}

    private static boolean isOff(String text) {
        for (String word : new String[] {"none", "off", "no", "false", "0"}) {
            if (Text.equalsIgnoreAsciiCase(text, word)) return true;
        }
        return false;
    }

    private static boolean isYesNo(String text) {
        for (String word : new String[] {"yes", "on", "true", "1"}) {
            if (Text.equalsIgnoreAsciiCase(text, word)) return true;
        }
        return !Text.equalsIgnoreAsciiCase(text, "none") && isOff(text);
    }

    static boolean isStartType(String text) {
        for (String word : new String[] {"auto", "automatic", "delayed", "delayed-auto", "manual", "demand", "disabled"}) {
            if (Text.equalsIgnoreAsciiCase(text, word)) return true;
        }
        return false;
    }

    private static boolean isSeconds(String text) {
        if (text.isEmpty() || text.length() > 9) return false;
        for (int i = 0; i < text.length(); ++i) {
            if (!Text.isDigit(text.charAt(i))) return false;
        }
        return true;
    }

    /** "none" (or off, no, false, 0), or DELAY[/COUNT[/RESET]] in whole seconds with COUNT at least 1. */
    static boolean isRecovery(String text) {
        text = Text.trimmed(text);
        if (isOff(text)) return true;
        String[] fields = new String[3];
        int field = 0;
        while (true) {
            int slash = text.indexOf('/');
            String part = slash < 0 ? text : text.substring(0, slash);
            if (field == 3 || !isSeconds(part)) return false;
            fields[field++] = part;
            if (slash < 0) break;
            text = text.substring(slash + 1);
        }
        return field < 2 || Long.parseLong(fields[1]) != 0;
    }

    /** Whether one stored line would be taken; blank lines are. */
    static boolean isValidLine(String raw) {
        String line = Text.trimmed(raw);
        if (line.isEmpty()) return true;
        int eq = line.indexOf('=');
        if (eq < 0) return false;
        String key = Text.trimmed(line.substring(0, eq));
        String value = Text.trimmed(line.substring(eq + 1));
        if (Text.equalsIgnoreAsciiCase(key, "start")) return isStartType(value);
        if (Text.equalsIgnoreAsciiCase(key, "account")) return true;
        if (Text.equalsIgnoreAsciiCase(key, "recovery")) return isRecovery(value);
        if (Text.equalsIgnoreAsciiCase(key, "failonexit")) return isYesNo(value);
        return false;
    }
}
