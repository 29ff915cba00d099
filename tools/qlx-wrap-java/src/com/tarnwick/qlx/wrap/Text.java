// Text as the native generator handles it: configuration text, zip entry
// names and the like are byte strings, held here as ISO-8859-1 strings (one
// char per byte), so every rule that looks at bytes reads the same here.
// What reaches a terminal goes through printable().
package com.tarnwick.qlx.wrap;

import java.nio.charset.Charset;

public final class Text {
    static final Charset LATIN1 = Charset.forName("ISO-8859-1");
    static final Charset UTF8 = Charset.forName("UTF-8");

    private Text() {}

    /** Bytes as a byte string. */
    static String raw(byte[] bytes, int from, int to) {
        return new String(bytes, from, to - from, LATIN1);
    }

    static String raw(byte[] bytes) {
        return raw(bytes, 0, bytes.length);
    }

    /** A Java text as the byte string of its UTF-8 form. */
    static String rawOf(String text) {
        return new String(text.getBytes(UTF8), LATIN1);
    }

    static byte[] bytes(String raw) {
        return raw.getBytes(LATIN1);
    }

    /**
     * UTF-16 units as UTF-8, each unit on its own (a surrogate half becomes
     * three bytes), the way the launcher converts its resource texts.
     */
    static String unitsToRawUtf8(String units) {
        StringBuilder out = new StringBuilder(units.length());
        for (int i = 0; i < units.length(); ++i) {
            char u = units.charAt(i);
            if (u == 0) break;
            if (u < 0x80) {
                out.append(u);
            } else if (u < 0x800) {
                out.append((char) (0xC0 | (u >> 6))).append((char) (0x80 | (u & 0x3F)));
            } else {
                out.append((char) (0xE0 | (u >> 12))).append((char) (0x80 | ((u >> 6) & 0x3F)))
                        .append((char) (0x80 | (u & 0x3F)));
            }
        }
        return out.toString();
    }

    /**
     * Strict UTF-8 decoding of a byte string into UTF-16; null when it is not
     * well-formed (overlong forms, surrogates and values past U+10FFFF
     * included).
     */
    static String decodeUtf8Strict(String raw) {
        StringBuilder out = new StringBuilder(raw.length());
        int i = 0;
        while (i < raw.length()) {
            long sequence = sequenceAt(raw, i);
            if (sequence < 0) return null;
            out.appendCodePoint((int) (sequence >>> 3));
            i += (int) (sequence & 7);
        }
        return out.toString();
    }

    /** Index of the first byte where strict decoding fails, or -1. */
    static int firstBadUtf8(String raw) {
        int i = 0;
        while (i < raw.length()) {
            long sequence = sequenceAt(raw, i);
            if (sequence < 0) return i;
            i += (int) (sequence & 7);
        }
        return -1;
    }

    // The well-formed sequence at i: its code point shifted left by three,
    // with its length in bytes in the low bits; -1 when it is not one.
    private static long sequenceAt(String raw, int i) {
        int b = raw.charAt(i);
        if (b < 0x80) return ((long) b << 3) | 1;
        int extra;
        int c;
        int min;
        if ((b & 0xE0) == 0xC0) {
            extra = 1; c = b & 0x1F; min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2; c = b & 0x0F; min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3; c = b & 0x07; min = 0x10000;
        } else {
            return -1;
        }
        if (i + extra >= raw.length()) return -1;
        for (int k = 1; k <= extra; ++k) {
            int next = raw.charAt(i + k);
            if ((next & 0xC0) != 0x80) return -1;
            c = (c << 6) | (next & 0x3F);
        }
        if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return -1;
        return ((long) c << 3) | (extra + 1);
    }

    /**
     * A byte string with every character a terminal would act on instead of
     * showing (controls, invalid UTF-8, direction overrides) written as \xNN
     * or \\uNNNN. The result is valid UTF-8 text.
     */
    public static String printable(String raw) {
        StringBuilder out = new StringBuilder(raw.length());
        int i = 0;
        int n = raw.length();
        while (i < n) {
            int b = raw.charAt(i);
            if (b >= 0x20 && b < 0x7F) {
                out.append((char) b);
                ++i;
                continue;
            }
            int extra = b >= 0xF0 && b < 0xF5 ? 3 : b >= 0xE0 && b < 0xF0 ? 2 : b >= 0xC2 && b < 0xE0 ? 1 : -1;
            int c = extra == 3 ? b & 0x07 : extra == 2 ? b & 0x0F : b & 0x1F;
            for (int k = 1; extra > 0 && k <= extra; ++k) {
                int next = i + k < n ? raw.charAt(i + k) : 0;
                if ((next & 0xC0) != 0x80) {
                    extra = -1;
                    break;
                }
                c = c << 6 | (next & 0x3F);
            }
            if (extra > 0 && ((extra == 2 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF)))
                    || (extra == 3 && (c < 0x10000 || c > 0x10FFFF)))) {
                extra = -1;
            }
            if (extra <= 0) {
                out.append("\\x").append(hex(b, 2));
                ++i;
                continue;
            }
            // C1 controls, zero-width and direction marks, line and paragraph
            // separators, and the byte order mark change what a terminal shows.
            boolean hidden = c < 0xA0 || c == 0xAD || (c >= 0x200B && c <= 0x200F)
                    || (c >= 0x2028 && c <= 0x202E) || (c >= 0x2060 && c <= 0x206F)
                    || c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB);
            if (hidden) {
                out.append("\\u").append(hex(c, 4));
            } else {
                out.appendCodePoint(c);
            }
            i += extra + 1;
        }
        return out.toString();
    }

    private static String hex(int value, int digits) {
        String h = Integer.toHexString(value).toUpperCase(java.util.Locale.ROOT);
        StringBuilder out = new StringBuilder();
        for (int i = h.length(); i < digits; ++i) out.append('0');
        return out.append(h).toString();
    }

    /** printable() of a Java text. */
    public static String printableText(String text) {
        return printable(rawOf(text));
    }

    static boolean isDigit(char c) {
        return c >= '0' && c <= '9';
    }

    static boolean isWordChar(char c) {
        return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    }

    static String lowerAscii(String s) {
        StringBuilder out = new StringBuilder(s.length());
        for (int i = 0; i < s.length(); ++i) {
            char c = s.charAt(i);
            out.append(c >= 'A' && c <= 'Z' ? (char) (c + 32) : c);
        }
        return out.toString();
    }

    static boolean equalsIgnoreAsciiCase(String a, String b) {
        return a.length() == b.length() && lowerAscii(a).equals(lowerAscii(b));
    }

    /** Leading and trailing spaces and tabs gone, and a trailing CR. */
    static String trimmed(String s) {
        int from = 0;
        int to = s.length();
        while (from < to && (s.charAt(from) == ' ' || s.charAt(from) == '\t')) ++from;
        while (to > from && (s.charAt(to - 1) == ' ' || s.charAt(to - 1) == '\t' || s.charAt(to - 1) == '\r')) --to;
        return s.substring(from, to);
    }

    static int firstNotSpace(String s, int from) {
        for (int i = from; i < s.length(); ++i) {
            if (s.charAt(i) != ' ') return i;
        }
        return -1;
    }
}
