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

    /** A restart waits at most a day; the manager keeps at most 1024 failure actions, one of which ends the list. */
    static final long MAX_RECOVERY_DELAY_SECONDS = 86400;
    static final long MAX_RECOVERY_COUNT = 1023;

    /**
     * Why a recovery setting is refused, or null when it is taken: "none"
     * (or off, no, false, 0), or DELAY[/COUNT[/RESET]] in whole seconds,
     * DELAY at most a day and COUNT from 1 to 1023 (3 when not given).
     */
    static String recoveryProblem(String text) {
        text = Text.trimmed(text);
        if (isOff(text)) return null;
        long[] fields = {60, 3, 86400};
        int field = 0;
        while (true) {
            int slash = text.indexOf('/');
            String part = slash < 0 ? text : text.substring(0, slash);
            if (field == 3 || !isSeconds(part)) return "DELAY[/COUNT[/RESET]], seconds";
            fields[field++] = Long.parseLong(part);
            if (slash < 0) break;
            text = text.substring(slash + 1);
        }
        // Bounded before anything is built from them: the delay becomes
        // milliseconds in 32 bits, the count the length of the action list.
        if (fields[0] > MAX_RECOVERY_DELAY_SECONDS) return "DELAY is at most 86400";
        if (fields[1] == 0 || fields[1] > MAX_RECOVERY_COUNT) return "COUNT is 1 to 1023";
        return null;
    }

    private static final String[] BUILT_IN_ACCOUNTS = {"LocalSystem", "LocalService", "NetworkService", "virtual"};

    /**
     * The built-in account that `given` is a slip of, or null: a name one or
     * two edits away from one is far likelier a typo than a user of that
     * name (who can still be given as .\name).
     */
    static String builtInAccountNear(String given) {
        given = Text.trimmed(given);
        if (given.isEmpty() || given.indexOf('\\') >= 0 || given.indexOf('@') >= 0) return null;
        String best = null;
        int distance = Integer.MAX_VALUE;
        for (String word : BUILT_IN_ACCOUNTS) {
            int d = editDistanceIgnoreCase(given, word);
            if (d < distance) {
                distance = d;
                best = word;
            }
        }
        return distance >= 1 && distance <= 2 ? best : null;
    }

    /** Edits between two byte strings, ASCII letters compared without regard to case. */
    static int editDistanceIgnoreCase(String a, String b) {
        // Typed words are short; beyond this the tail of a longer text cannot make it any nearer.
        final int longest = 63;
        if (a.length() > longest) a = a.substring(0, longest);
        if (b.length() > longest) b = b.substring(0, longest);
        int[] row = new int[b.length() + 1];
        for (int j = 0; j <= b.length(); ++j) row[j] = j;
        for (int i = 1; i <= a.length(); ++i) {
            int diagonal = row[0];
            row[0] = i;
            for (int j = 1; j <= b.length(); ++j) {
                int above = row[j];
                int same = folded(a.charAt(i - 1)) == folded(b.charAt(j - 1)) ? 0 : 1;
                row[j] = Math.min(diagonal + same, Math.min(above + 1, row[j - 1] + 1));
                diagonal = above;
            }
        }
        return row[b.length()];
    }

    private static char folded(char c) {
        return c >= 'A' && c <= 'Z' ? (char) (c + 32) : c;
    }

    /**
     * Why one stored line (a byte string) would be refused: null when it is
     * taken (blank lines are), "" when there is no more to say than that it
     * is not valid, else the rule it breaks.
     */
    static String lineProblem(String raw) {
        String line = Text.trimmed(raw);
        if (line.isEmpty()) return null;
        int eq = line.indexOf('=');
        if (eq < 0) return "";
        String key = Text.trimmed(line.substring(0, eq));
        String value = Text.trimmed(line.substring(eq + 1));
        if (Text.equalsIgnoreAsciiCase(key, "start")) return isStartType(value) ? null : "";
        if (Text.equalsIgnoreAsciiCase(key, "account")) {
            String near = builtInAccountNear(value);
            return near == null ? null : "did you mean " + near + "?";
        }
        if (Text.equalsIgnoreAsciiCase(key, "recovery")) return recoveryProblem(value);
        if (Text.equalsIgnoreAsciiCase(key, "failonexit")) return isYesNo(value) ? null : "";
        return "";
    }
}
