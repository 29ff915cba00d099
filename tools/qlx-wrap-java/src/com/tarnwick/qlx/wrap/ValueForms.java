// The forms a configuration value with a fixed shape may take, read exactly
// as the launcher reads them (versions, search orders, filter patterns, log
// rotation sizes and ages, seconds). Values are byte strings.
package com.tarnwick.qlx.wrap;

final class ValueForms {
    /** One check of a value; the key table names one per key with a fixed form. */
    interface Form {
        boolean accepts(String value);
    }

    static final long MAX_STOP_TIMEOUT_SECONDS = 3600;

    private ValueForms() {}

    static boolean oneOf(String value, String... words) {
        String v = Text.lowerAscii(value);
        for (String w : words) {
            if (v.equals(w)) return true;
        }
        return false;
    }

    /** 1 to 4 numbers joined by '.' or '_': 17, 1.8, 1.8.0_392, 21.0.2. */
    static boolean isVersion(String v) {
        int numbers = 0;
        int i = 0;
        while (i < v.length()) {
            if (!Text.isDigit(v.charAt(i))) return false;
            while (i < v.length() && Text.isDigit(v.charAt(i))) ++i;
            ++numbers;
            if (i == v.length()) break;
            if (v.charAt(i) != '.' && v.charAt(i) != '_') return false;
            if (++i == v.length()) return false;
        }
        return numbers >= 1 && numbers <= 4;
    }

    static boolean isSearchOrder(String v) {
        if (v.isEmpty()) return false;
        for (int i = 0; i < v.length(); ++i) {
            char c = v.charAt(i);
            if ("cbsiev".indexOf(c >= 'A' && c <= 'Z' ? (char) (c + 32) : c) < 0) return false;
        }
        return true;
    }

    /** The service reads it without its trailing spaces. */
    static boolean isArgumentSources(String v) {
        int end = v.length();
        while (end > 0 && v.charAt(end - 1) == ' ') --end;
        return oneOf(v.substring(0, end), "c", "s", "cs", "sc");
    }

    static boolean isSeconds(String v) {
        if (v.isEmpty() || v.length() > 9) return false;
        for (int i = 0; i < v.length(); ++i) {
            if (!Text.isDigit(v.charAt(i))) return false;
        }
        long n = Long.parseLong(v);
        return n > 0 && n <= MAX_STOP_TIMEOUT_SECONDS;
    }

    /** The receiver's own grammar: what it refuses, the generator refuses. */
    static boolean isFilterPattern(String v) {
        return FilterGrammar.problem(v).isEmpty();
    }

    // Log rotation, read by the launcher's rules: sizes in bytes with K, M, G
    // (powers of 1024) and an optional B; counts 0..9999; ages with s, m, h,
    // d, w (a bare number is days).

    /** Leading digits of text[at..] as a number no larger than limit (unsigned); -1 index when none or larger. */
    private static int leadingNumber(String text, int at, long limit, long[] value) {
        int i = at;
        long v = 0;
        while (i < text.length() && Text.isDigit(text.charAt(i))) {
            long digit = text.charAt(i) - '0';
            if (Long.compareUnsigned(v, Long.divideUnsigned(limit - digit, 10)) > 0) return -1;
            v = v * 10 + digit;
            ++i;
        }
        if (i == at) return -1;
        value[0] = v;
        return i;
    }

    static boolean isSize(String text) {
        text = Text.trimmed(text);
        long[] number = new long[1];
        int i = leadingNumber(text, 0, -1L, number);
        if (i < 0 || number[0] == 0) return false;
        long unit = 1;
        if (i < text.length()) {
            switch (Character.toLowerCase(text.charAt(i))) {
                case 'k': unit = 1L << 10; ++i; break;
                case 'm': unit = 1L << 20; ++i; break;
                case 'g': unit = 1L << 30; ++i; break;
                default: break;
            }
        }
        if (i < text.length() && (text.charAt(i) == 'b' || text.charAt(i) == 'B')) ++i;
        return i == text.length() && Long.compareUnsigned(number[0], Long.divideUnsigned(-1L, unit)) <= 0;
    }

    static boolean isKeepCount(String text) {
        text = Text.trimmed(text);
        long[] number = new long[1];
        return leadingNumber(text, 0, 9999, number) == text.length();
    }

    static boolean isAge(String text) {
        text = Text.trimmed(text);
        long[] number = new long[1];
        int i = leadingNumber(text, 0, 100000, number);
        if (i < 0 || number[0] == 0) return false;
        if (i < text.length()) {
            if ("smhdwSMHDW".indexOf(text.charAt(i)) < 0) return false;
            ++i;
        }
        return i == text.length();
    }

    static boolean isRotateTriggers(String text) {
        boolean any = false;
        int i = 0;
        while (i < text.length()) {
            while (i < text.length() && isRotateSeparator(text.charAt(i))) ++i;
            int end = i;
            while (end < text.length() && !isRotateSeparator(text.charAt(end))) ++end;
            String item = Text.trimmed(text.substring(i, end));
            i = end;
            if (item.isEmpty()) continue;
            if (!Text.equalsIgnoreAsciiCase(item, "daily") && !Text.equalsIgnoreAsciiCase(item, "start")
                    && !isSize(item)) {
                return false;
            }
            any = true;
        }
        return any;
    }

    private static boolean isRotateSeparator(char c) {
        return c == ',' || c == ' ' || c == '\t';
    }
}
