// The application's main class as the generator sees it: read from the
// archive's manifest when the configuration names none, and looked up in
// the archive when it does, so a missing class shows while wrapping instead
// of as "main class not found" on the user's machine. Texts are byte strings.
package com.tarnwick.qlx.wrap;

import java.io.IOException;
import java.util.List;
import java.util.zip.DataFormatException;
import java.util.zip.Inflater;

final class MainClass {
    // Manifests are small; anything larger is not one worth reading.
    static final int MAX_MANIFEST_SIZE = 1 << 20;

    private MainClass() {}

    /**
     * The value of attribute `name` (compared without regard to ASCII case)
     * in the main section of a manifest, continuation lines joined; empty
     * when absent.
     */
    static String manifestAttribute(String manifest, String name) {
        // Lines end in CR LF, LF or CR; a line that starts with one space goes
        // on the one before it (writers wrap at 72 bytes); an empty line ends
        // the main section.
        StringBuilder found = new StringBuilder();
        boolean inAttribute = false;
        int pos = 0;
        int size = manifest.length();
        while (pos < size) {
            int end = pos;
            while (end < size && manifest.charAt(end) != '\r' && manifest.charAt(end) != '\n') ++end;
            String line = manifest.substring(pos, end);
            pos = end + (end + 1 < size && manifest.charAt(end) == '\r' && manifest.charAt(end + 1) == '\n' ? 2 : 1);
            if (line.isEmpty()) break;
            if (line.charAt(0) == ' ') {
                if (inAttribute) found.append(line, 1, line.length());
                continue;
            }
            if (inAttribute) return found.toString();
            int colon = line.indexOf(':');
            if (colon < 0 || !Text.equalsIgnoreAsciiCase(line.substring(0, colon), name)) continue;
            int value = colon + 1;
            while (value < line.length() && line.charAt(value) == ' ') ++value;
            found.setLength(0);
            found.append(line, value, line.length());
            inAttribute = true;
        }
        return found.toString();
    }

    /** The entry that holds a class named as the launcher takes it: com.example.Main is com/example/Main.class. */
    static String classEntryName(String className) {
        return className.replace('.', '/') + ".class";
    }

    /** The class is an entry of the archive, at its own name or in a version folder of a multi-release archive. */
    static boolean archiveHolds(List<ZipArchive.Piece> entries, String className) {
        String wanted = classEntryName(className);
        String versions = "META-INF/versions/";
        for (ZipArchive.Piece p : entries) {
            String name = p.entry.name;
            if (name.equals(wanted)) return true;
            if (!name.startsWith(versions)) continue;
            int slash = name.indexOf('/', versions.length());
            if (slash >= 0 && name.substring(slash + 1).equals(wanted)) return true;
        }
        return false;
    }

    /** The Main-Class of the archive's manifest, or empty (none, or one that cannot be read). */
    static String manifestMainClass(List<ZipArchive.Piece> entries) {
        String manifest = null;
        for (ZipArchive.Piece p : entries) {
            if (p.entry.name.equals("META-INF/MANIFEST.MF")) {
                manifest = read(p);
                break;
            }
        }
        if (manifest == null) return "";
        String value = manifestAttribute(manifest, "Main-Class");
        int end = value.length();
        while (end > 0 && (value.charAt(end - 1) == ' ' || value.charAt(end - 1) == '\t')) --end;
        return value.substring(0, end);
    }

    /** No control characters and well-formed UTF-8: a name worth putting into the configuration. */
    static boolean isClassNameText(String raw) {
        for (int i = 0; i < raw.length(); ++i) {
            char c = raw.charAt(i);
            if (c < 0x20 || c == 0x7F) return false;
        }
        return Text.decodeUtf8Strict(raw) != null;
    }

    /**
     * The main class the configuration names, else the manifest's, which then
     * goes into the block as its first line (the first mainclass line counts,
     * even an empty one). Either is looked for in the archive. Returns the
     * line to put in front of the configuration, or empty.
     */
    static String settle(List<ZipArchive.Piece> entries, String text, Wrapper.Result result) {
        String mainClass = ConfigCheck.firstValueRaw(text, "mainclass");
        String line = "";
        if (mainClass.isEmpty()) {
            mainClass = manifestMainClass(entries);
            // Without one the configuration check reports the missing mainclass.
            if (mainClass.isEmpty() || !isClassNameText(mainClass)) return "";
            line = "mainclass " + mainClass + "\r\n";
            result.notes.add("note: " + Findings.MAIN_CLASS_FROM_MANIFEST.message(Text.decodeUtf8Strict(mainClass)));
        }
        if (!archiveHolds(entries, mainClass)) {
            result.warnings.add("configuration: " + Findings.MAIN_CLASS_NOT_IN_ARCHIVE.message(
                    Text.printable(mainClass), Text.printable(classEntryName(mainClass))));
        }
        return line;
    }

    /** A stored or deflated entry of at most MAX_MANIFEST_SIZE bytes as a byte string; null otherwise. */
    private static String read(ZipArchive.Piece p) {
        byte[] central = p.from.central;
        int method = Bytes.u16(central, p.entry.centralAt + 10);
        long compressed = Bytes.u32(central, p.entry.centralAt + 20);
        try {
            Source data = p.from.data;
            long at = p.entry.localOffset;
            long dataAt = at + 30 + data.u16(at + 26) + data.u16(at + 28);
            if (method == 0) {
                return compressed > MAX_MANIFEST_SIZE ? null : Text.raw(data.read(dataAt, (int) compressed));
            }
            return method == 8 ? inflate(data, dataAt, compressed) : null;
        } catch (IOException e) {
            return null;
        }
    }

    private static String inflate(Source data, long at, long length) throws IOException {
        Inflater inflater = new Inflater(true);
        try {
            byte[] in = new byte[1 << 16];
            byte[] out = new byte[MAX_MANIFEST_SIZE + 1];
            int produced = 0;
            long fed = 0;
            while (!inflater.finished()) {
                if (inflater.needsInput()) {
                    if (fed == length) return null; // the data ends early
                    int n = (int) Math.min(in.length, length - fed);
                    data.read(at + fed, in, 0, n);
                    fed += n;
                    inflater.setInput(in, 0, n);
                }
                if (inflater.needsDictionary()) return null;
                produced += inflater.inflate(out, produced, out.length - produced);
                if (produced > MAX_MANIFEST_SIZE) return null;
            }
            return Text.raw(out, 0, produced);
        } catch (DataFormatException e) {
            return null;
        } finally {
            inflater.end();
        }
    }
}
