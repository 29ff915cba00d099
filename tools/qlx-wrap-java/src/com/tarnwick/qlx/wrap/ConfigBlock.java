// The configuration block as the launcher expects it: UTF-8 byte order
// mark, the text with CR LF line ends, one NUL; whatever encoding and line
// ends the author's editor produced.
package com.tarnwick.qlx.wrap;

import java.io.ByteArrayOutputStream;

public final class ConfigBlock {
    private ConfigBlock() {}

    /**
     * The text of a configuration file (UTF-8 with or without its mark, or
     * UTF-16 with a mark) as a byte string of UTF-8, line ends untouched.
     * Fails on text that is not valid UTF-8 / UTF-16 or that holds a NUL,
     * since the launcher would silently cut the text there.
     */
    static String decode(byte[] p) throws WrapException {
        int n = p.length;
        String text;
        if (n >= 2 && (((p[0] & 0xFF) == 0xFF && (p[1] & 0xFF) == 0xFE) || ((p[0] & 0xFF) == 0xFE && (p[1] & 0xFF) == 0xFF))) {
            if ((n - 2) % 2 != 0) throw usage("configuration file is UTF-16 but has an odd number of bytes");
            text = utf16ToRawUtf8(p, (n - 2) / 2, (p[0] & 0xFF) == 0xFE);
            if (text == null) throw usage("configuration file is not valid UTF-16 (unpaired surrogate)");
        } else {
            int skip = n >= 3 && (p[0] & 0xFF) == 0xEF && (p[1] & 0xFF) == 0xBB && (p[2] & 0xFF) == 0xBF ? 3 : 0;
            text = Text.raw(p, skip, n);
            int bad = Text.firstBadUtf8(text);
            if (bad >= 0) {
                throw usage("configuration file is not valid UTF-8 (at byte " + (bad + skip)
                        + "); save it as UTF-8 or UTF-16");
            }
        }
        if (text.indexOf('\0') >= 0) {
            throw usage("configuration file contains a NUL character, which would end the text early");
        }
        return text;
    }

    /** The text of a configuration file as a Java text (for the build plugins). */
    public static String decodeText(byte[] file) throws WrapException {
        return Text.decodeUtf8Strict(decode(file));
    }

    /** The block for a configuration file's bytes. */
    static byte[] build(byte[] file) throws WrapException {
        return blockOf(decode(file));
    }

    /** The block for decoded text (a byte string of UTF-8). */
    static byte[] blockOf(String text) throws WrapException {
        ByteArrayOutputStream block = new ByteArrayOutputStream(text.length() + 64);
        block.write(0xEF);
        block.write(0xBB);
        block.write(0xBF);
        for (int i = 0; i < text.length(); ++i) {
            char c = text.charAt(i);
            if (c == '\r' || c == '\n') {
                block.write('\r');
                block.write('\n');
                // CR LF is one line end; so is a lone CR or a lone LF.
                if (c == '\r' && i + 1 < text.length() && text.charAt(i + 1) == '\n') ++i;
            } else {
                block.write(c);
            }
        }
        block.write(0);
        if (block.size() > 0x7FFFFFF0) throw usage("configuration file is too large");
        return block.toByteArray();
    }

    private static WrapException usage(String message) {
        return new WrapException(ExitCodes.USAGE, message);
    }

    private static String utf16ToRawUtf8(byte[] p, int units, boolean bigEndian) {
        StringBuilder out = new StringBuilder(units);
        for (int k = 0; k < units; ++k) {
            int c = unit(p, k, bigEndian);
            if (c >= 0xD800 && c <= 0xDBFF) {
                if (k + 1 >= units) return null;
                int low = unit(p, k + 1, bigEndian);
                if (low < 0xDC00 || low > 0xDFFF) return null;
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++k;
            } else if (c >= 0xDC00 && c <= 0xDFFF) {
                return null;
            }
            appendUtf8(out, c);
        }
        return out.toString();
    }

    private static int unit(byte[] p, int k, boolean bigEndian) {
        int a = p[2 + 2 * k] & 0xFF;
        int b = p[3 + 2 * k] & 0xFF;
        return bigEndian ? (a << 8 | b) : (b << 8 | a);
    }

    static void appendUtf8(StringBuilder out, int c) {
        if (c < 0x80) {
            out.append((char) c);
        } else if (c < 0x800) {
            out.append((char) (0xC0 | (c >> 6))).append((char) (0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.append((char) (0xE0 | (c >> 12))).append((char) (0x80 | ((c >> 6) & 0x3F)))
                    .append((char) (0x80 | (c & 0x3F)));
        } else {
            out.append((char) (0xF0 | (c >> 18))).append((char) (0x80 | ((c >> 12) & 0x3F)))
                    .append((char) (0x80 | ((c >> 6) & 0x3F))).append((char) (0x80 | (c & 0x3F)));
        }
    }
}
