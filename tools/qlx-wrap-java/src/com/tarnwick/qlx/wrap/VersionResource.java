// The version information Explorer shows (VS_VERSIONINFO): a tree of
// (length, value length, type, key, value, children) nodes, each aligned to
// 32 bits, built from the version options and read back for --inspect.
package com.tarnwick.qlx.wrap;

import java.util.ArrayList;
import java.util.Collections;
import java.util.List;

final class VersionResource {
    private VersionResource() {}

    /** Parses "1" to "1.2.3.4" (each part 0..65535) into {ms, ls}; null for anything else. */
    static long[] parseVersion(String text) {
        long[] parts = new long[4];
        int count = 0;
        int pos = 0;
        while (count < 4) {
            int digits = 0;
            long v = 0;
            while (pos < text.length() && text.charAt(pos) >= '0' && text.charAt(pos) <= '9' && digits < 6) {
                v = v * 10 + (text.charAt(pos++) - '0');
                ++digits;
            }
            if (digits == 0 || v > 0xFFFF) return null;
            parts[count++] = v;
            if (pos == text.length()) break;
            if (text.charAt(pos++) != '.') return null;
        }
        if (pos != text.length()) return null;
        return new long[] {parts[0] << 16 | parts[1], parts[2] << 16 | parts[3]};
    }

    private static void pad4(Bytes b) {
        while (b.size() % 4 != 0) b.add(0);
    }

    private static void appendUtf16(Bytes b, String s) {
        for (int i = 0; i < s.length(); ++i) {
            b.add(s.charAt(i));
            b.add(s.charAt(i) >> 8);
        }
        b.add(0);
        b.add(0);
    }

    /** One node; children start 32-bit aligned; its length counts up to the end of its last child. */
    private static Bytes node(String key, byte[] value, int valueLength, int type, List<Bytes> children) {
        Bytes b = new Bytes();
        b.resize(6);
        appendUtf16(b, key);
        pad4(b);
        b.add(value);
        for (Bytes child : children) {
            pad4(b);
            b.add(child);
        }
        b.put16(0, b.size());
        b.put16(2, valueLength);
        b.put16(4, type);
        return b;
    }

    /**
     * The VS_VERSIONINFO data (language 1033, Unicode). `fileName` becomes
     * OriginalFilename and, without ".exe", InternalName.
     */
    static byte[] build(WrapRequest.Version info, String fileName) throws WrapException {
        String fileVersion = info.fileVersion != null ? info.fileVersion
                : info.productVersion != null ? info.productVersion : "0.0.0.0";
        String productVersion = info.productVersion != null ? info.productVersion : fileVersion;
        long[] f = parseVersion(fileVersion);
        if (f == null) {
            throw new WrapException(ExitCodes.USAGE,
                    "--file-version '" + fileVersion + "' is not 1 to 4 numbers 0..65535 joined by '.'");
        }
        long[] p = parseVersion(productVersion);
        if (p == null) {
            throw new WrapException(ExitCodes.USAGE,
                    "--product-version '" + productVersion + "' is not 1 to 4 numbers 0..65535 joined by '.'");
        }
        byte[] fixed = new byte[52];
        long[] words = {0xFEEF04BDL, 0x00010000L, f[0], f[1], p[0], p[1], 0x3F, 0,
            0x00040004L /* NT, 32-bit Windows */, 1 /* application */, 0, 0, 0};
        for (int i = 0; i < 13; ++i) Bytes.put32(fixed, 4L * i, words[i]);

        String internal = fileName;
        if (internal.length() > 4 && (internal.endsWith(".exe") || internal.endsWith(".EXE"))) {
            internal = internal.substring(0, internal.length() - 4);
        }
        String[][] entries = {
            {"CompanyName", info.company}, {"FileDescription", info.fileDescription},
            {"FileVersion", fileVersion}, {"InternalName", internal},
            {"LegalCopyright", info.copyright}, {"OriginalFilename", fileName},
            {"ProductName", info.productName}, {"ProductVersion", productVersion},
        };
        List<Bytes> strings = new ArrayList<Bytes>();
        List<Bytes> none = Collections.emptyList();
        for (String[] e : entries) {
            if (e[1] == null) continue;
            Bytes v = new Bytes();
            appendUtf16(v, e[1]);
            strings.add(node(e[0], v.toArray(), e[1].length() + 1, 1, none));
        }
        Bytes table = node("040904B0", new byte[0], 0, 1, strings);
        Bytes stringInfo = node("StringFileInfo", new byte[0], 0, 1, Collections.singletonList(table));
        Bytes translation = node("Translation", new byte[] {0x09, 0x04, (byte) 0xB0, 0x04}, 4, 0, none);
        Bytes varInfo = node("VarFileInfo", new byte[0], 0, 1, Collections.singletonList(translation));
        List<Bytes> top = new ArrayList<Bytes>();
        top.add(stringInfo);
        top.add(varInfo);
        Bytes out = node("VS_VERSION_INFO", fixed, 52, 0, top);
        if (out.size() > 0xFFFF) throw new WrapException(ExitCodes.USAGE, "the version texts are too long (64 KB in all)");
        return out.toArray();
    }

    // Reading back -----------------------------------------------------------

    private static final class Node {
        long start;
        long end;
        long value;
        long children;
        int valueLength;
        int type;
        String key = "";
    }

    /** The node at `at` inside [at, limit); null when it does not fit. */
    private static Node readNode(byte[] d, long at, long limit) {
        if (at + 6 > limit) return null;
        int length = Bytes.u16(d, at);
        if (length < 6 || at + length > limit) return null;
        Node n = new Node();
        n.start = at;
        n.end = at + length;
        n.valueLength = Bytes.u16(d, at + 2);
        n.type = Bytes.u16(d, at + 4);
        long p = at + 6;
        StringBuilder key = new StringBuilder();
        for (;;) {
            if (p + 2 > n.end) return null;
            int c = Bytes.u16(d, p);
            p += 2;
            if (c == 0) break;
            key.append((char) c);
        }
        n.key = key.toString();
        n.value = (p + 3) / 4 * 4;
        long valueBytes = n.type == 1 ? 2L * n.valueLength : n.valueLength;
        n.children = (n.value + valueBytes + 3) / 4 * 4;
        return n.value + valueBytes <= n.end ? n : null;
    }

    private interface Each {
        void child(Node n);
    }

    private static boolean forChildren(byte[] d, Node parent, Each each) {
        long p = parent.children;
        while (p + 6 <= parent.end) {
            Node child = readNode(d, p, parent.end);
            if (child == null) return false;
            each.child(child);
            p = (child.end + 3) / 4 * 4;
        }
        return true;
    }

    /**
     * Name/value pairs of the string tables as UTF-8 byte strings, led by
     * "(fixed) FileVersion" from the fixed part; null when damaged.
     */
    static List<String[]> readStrings(final byte[] d) {
        final List<String[]> out = new ArrayList<String[]>();
        Node root = readNode(d, 0, d.length);
        if (root == null || !root.key.equals("VS_VERSION_INFO")) return null;
        if (root.valueLength >= 52 && Bytes.u32(d, root.value) == 0xFEEF04BDL) {
            long ms = Bytes.u32(d, root.value + 8);
            long ls = Bytes.u32(d, root.value + 12);
            out.add(new String[] {"(fixed) FileVersion", (ms >> 16) + "." + (ms & 0xFFFF) + "." + (ls >> 16) + "." + (ls & 0xFFFF)});
        }
        final boolean[] ok = {true};
        boolean walked = forChildren(d, root, info -> {
            if (!info.key.equals("StringFileInfo")) return;
            ok[0] = ok[0] && forChildren(d, info, table -> {
                ok[0] = ok[0] && forChildren(d, table, s -> {
                    StringBuilder value = new StringBuilder();
                    for (long p = s.value; p + 2 <= s.end && p < s.value + 2L * s.valueLength; p += 2) {
                        int c = Bytes.u16(d, p);
                        if (c == 0) break;
                        value.append((char) c);
                    }
                    out.add(new String[] {Text.unitsToRawUtf8(s.key), Text.unitsToRawUtf8(value.toString())});
                });
            });
        });
        return walked && ok[0] ? out : null;
    }

    /** The application manifest. */
    static String manifest(String executionLevel, boolean utf8CodePage) {
        String m = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
                + "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
                + "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">\r\n"
                + "    <security>\r\n"
                + "      <requestedPrivileges>\r\n"
                + "        <requestedExecutionLevel level=\"" + executionLevel + "\" uiAccess=\"false\"/>\r\n"
                + "      </requestedPrivileges>\r\n"
                + "    </security>\r\n"
                + "  </trustInfo>\r\n"
                + "  <compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">\r\n"
                + "    <application>\r\n"
                + "      <!-- Windows Vista, 7, 8, 8.1, 10 and 11 -->\r\n"
                + "      <supportedOS Id=\"{e2011457-1546-43c5-a5fe-008deee3d3f0}\"/>\r\n"
                + "      <supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>\r\n"
                + "      <supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>\r\n"
                + "      <supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>\r\n"
                + "      <supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>\r\n"
                + "    </application>\r\n"
                + "  </compatibility>\r\n";
        if (utf8CodePage) {
            m += "  <application xmlns=\"urn:schemas-microsoft-com:asm.v3\">\r\n"
                    + "    <windowsSettings>\r\n"
                    + "      <activeCodePage xmlns=\"http://schemas.microsoft.com/SMI/2019/WindowsSettings\">"
                    + "UTF-8</activeCodePage>\r\n"
                    + "    </windowsSettings>\r\n"
                    + "  </application>\r\n";
        }
        return m + "</assembly>\r\n";
    }
}
