// The grammar of instance filters, as the receiver's InstanceFilter reads
// them, so the generator accepts exactly the filters the receiver does.
// Values are byte strings (UTF-8).
package com.tarnwick.qlx.wrap;

final class FilterGrammar {
    private FilterGrammar() {}

    /** Empty for a filter the receiver takes; else "bad pattern P", "bad limit L" or "no class pattern". */
    static String problem(String filter) {
        boolean classes = false;
        int start = 0;
        while (start <= filter.length()) {
            int stop = filter.indexOf(';', start);
            if (stop < 0) stop = filter.length();
            // Blanks and control characters around an element are dropped, as
            // String.trim does on the receiver's side.
            int first = start;
            int last = stop;
            while (first < last && filter.charAt(first) <= ' ') ++first;
            while (last > first && filter.charAt(last - 1) <= ' ') --last;
            String element = filter.substring(first, last);
            start = stop + 1;
            if (element.isEmpty()) continue;
            if (element.indexOf('=') >= 0) {
                if (!isLimit(element)) return "bad limit " + element;
            } else if (!isPattern(element)) {
                return "bad pattern " + element;
            } else {
                classes = true;
            }
        }
        return classes ? "" : "no class pattern";
    }

    private static boolean isLimit(String element) {
        int equals = element.indexOf('=');
        String key = element.substring(0, equals);
        String digits = element.substring(equals + 1);
        if (!key.equals("maxdepth") && !key.equals("maxrefs") && !key.equals("maxarray") && !key.equals("maxbytes")) {
            return false;
        }
        if (digits.isEmpty() || digits.length() > 18) return false;
        for (int i = 0; i < digits.length(); ++i) {
            if (!Text.isDigit(digits.charAt(i))) return false;
        }
        return true;
    }

    private static boolean isPattern(String element) {
        String body = element.charAt(0) == '!' ? element.substring(1) : element;
        if (body.equals("*")) return true;
        int tail = body.endsWith(".**") ? 3 : body.endsWith(".*") ? 2 : body.endsWith("*") ? 1 : 0;
        return isClassName(body.substring(0, body.length() - tail));
    }

    /** Dot-separated parts of letters, digits, '_', '$' or bytes beyond ASCII. */
    private static boolean isClassName(String name) {
        boolean partStart = true;
        for (int i = 0; i < name.length(); ++i) {
            char c = name.charAt(i);
            if (c == '.') {
                if (partStart) return false;
                partStart = true;
                continue;
            }
            if (!Text.isWordChar(c) && c != '$' && c < 0x80) return false;
            partStart = false;
        }
        return !partStart;
    }
}
