// --inspect: what a wrapped program holds, read with the same rules the
// launcher uses. Each part is read on its own, so a damaged part (say, the
// resources) still leaves the payload and digest report readable. The file
// is read piece by piece; only its PE headers and resources are held.
package com.tarnwick.qlx.wrap;

import java.io.IOException;
import java.util.List;

final class Inspector {
    private static final int SECURITY_DIRECTORY = 4;
    private static final int IDENTITY_BLOCK = 17;
    // Files up to this size are held whole, so the resources are read with
    // the whole file as their bounds; beyond it only the launcher image is.
    private static final long WHOLE_FILE_LIMIT = 64L << 20;

    interface Exists {
        boolean exists(String path);
    }

    static final class Result {
        int code = ExitCodes.OK;
        final StringBuilder text = new StringBuilder();
    }

    private Inspector() {}

    /** `path` is a Java text; it names the file and the external configuration candidates beside it. */
    static Result inspect(Source file, String path, Exists exists) throws IOException {
        Result r = new Result();
        String rawPath = Text.rawOf(path);
        long size = file.size();
        line(r.text, "file:", rawPath + " (" + size + " bytes)");
        long marker = Payload.findArchiveSlot(file);
        if (marker < 8) {
            line(r.text, "payload:", "none: no single archive length slot, not a qlx program");
            reportResources(head(file, size), r.text);
            r.code = ExitCodes.INSPECT_NO_PAYLOAD;
            return r;
        }
        long archiveLength = (int) file.u32(marker - 8);
        Payload.Layout layout = new Payload.Layout();
        Payload.Status status = Payload.locate(file, archiveLength, layout);
        if (status != Payload.Status.OK) {
            line(r.text, "payload:", "none: " + status.text);
            reportResources(head(file, size), r.text);
            r.code = ExitCodes.INSPECT_NO_PAYLOAD;
            return r;
        }
        line(r.text, "stub size:", layout.blockOffset + " bytes");
        byte[] blockBytes = file.read(layout.blockOffset, (int) layout.blockLength - 1);
        String block = Text.raw(blockBytes);
        boolean utf8Mark = block.startsWith("\u00EF\u00BB\u00BF");
        String text = utf8Mark ? block.substring(3) : block;
        line(r.text, "configuration:", layout.blockLength + " bytes embedded" + (utf8Mark ? ", UTF-8" : ""));
        int pos = 0;
        while (pos < text.length() && text.charAt(pos) != '\0') {
            int end = pos;
            while (end < text.length() && "\r\n\0".indexOf(text.charAt(end)) < 0) ++end;
            if (end > pos) r.text.append("  | ").append(Text.printable(text.substring(pos, end))).append('\n');
            boolean nul = end < text.length() && text.charAt(end) == '\0';
            pos = end + (end < text.length() && !nul ? 1 : 0);
            if (nul) break;
        }
        int nul = text.indexOf('\0');
        List<ConfigCheck.Finding> findings =
                ConfigCheck.checkRaw(nul >= 0 ? text.substring(0, nul) : text, ConfigCheck.Role.EMBEDDED);
        line(r.text, "config check:", findings.isEmpty() ? "no mistakes found" : findings.size() + " finding(s)");
        for (ConfigCheck.Finding f : findings) {
            lineText(r.text, "  " + (f.error ? "error:" : "warning:"), f.text());
        }
        String external = null;
        boolean disabled = disablesExternal(text);
        for (String candidate : externalCandidates(path)) {
            if (exists.exists(candidate)) {
                external = Text.rawOf(candidate) + (disabled ? " (ignored: disableexternal)" : " (would be read)");
                break;
            }
        }
        if (external == null) external = disabled ? "disabled (disableexternal)" : "none beside the file";
        line(r.text, "external config:", external);
        long eocd = layout.fileSize - layout.trailingLength - 22;
        line(r.text, "archive:", layout.archiveLength + " bytes, " + file.u16(eocd + 10) + " entries");
        if (layout.trailingLength > 0) line(r.text, "trailing bytes:", String.valueOf(layout.trailingLength));
        byte[] digest = Digest.ofFile(file, layout);
        boolean intact = java.util.Arrays.equals(digest, file.read(layout.digestOffset, Digest.SIZE));
        line(r.text, "digest:", intact ? "intact" : "modified (the file changed after it was written)");
        long imageEnd = size <= WHOLE_FILE_LIMIT ? size : layout.blockOffset;
        reportResources(file.read(0, (int) Math.min(imageEnd, WHOLE_FILE_LIMIT)), r.text);
        r.code = intact ? ExitCodes.OK : ExitCodes.INSPECT_MODIFIED;
        return r;
    }

    private static byte[] head(Source file, long size) throws IOException {
        return file.read(0, (int) Math.min(size, WHOLE_FILE_LIMIT));
    }

    /** The external configuration files the launcher would try, in its order. */
    static String[] externalCandidates(String path) {
        int sep = Math.max(path.lastIndexOf('/'), path.lastIndexOf('\\'));
        int dot = path.lastIndexOf('.');
        String stem = dot >= 0 && (sep < 0 || dot > sep) ? path.substring(0, dot) : path;
        return new String[] {path + ".cfg", path + ".config", stem + ".cfg", stem + ".config"};
    }

    /** Whether an embedded line switches the external file off (the first line of the key decides). */
    static boolean disablesExternal(String text) {
        String key = "disableexternal";
        int pos = 0;
        while (pos < text.length()) {
            int end = pos;
            while (end < text.length() && text.charAt(end) != '\r' && text.charAt(end) != '\n') ++end;
            String line = text.substring(pos, end);
            pos = end + 1;
            int k = Text.firstNotSpace(line, 0);
            if (k < 0 || line.length() - k < key.length()) continue;
            boolean match = true;
            for (int i = 0; i < key.length(); ++i) match = match && (line.charAt(k + i) | 0x20) == key.charAt(i);
            if (!match) continue;
            int after = k + key.length();
            if (after < line.length()) {
                char c = line.charAt(after);
                if (c < 0x80 && (Character.isLetterOrDigit(c) || c == '_')) continue;
            }
            int v = Text.firstNotSpace(line, after);
            if (v >= 0 && line.charAt(v) == '=') v = Text.firstNotSpace(line, v + 1);
            String value = v < 0 ? "" : line.substring(v);
            return Text.lowerAscii(value).equals("true");
        }
        return false;
    }

    /**
     * One report line: the label padded to 20 columns by its bytes. Both
     * parts come from the file, which anyone may have written: a control
     * character in them must not act on the terminal.
     */
    private static void line(StringBuilder out, String rawLabel, String rawValue) {
        out.append(Text.printable(rawLabel));
        for (int i = rawLabel.length() < 20 ? 20 - rawLabel.length() : 1; i > 0; --i) out.append(' ');
        out.append(Text.printable(rawValue)).append('\n');
    }

    private static void lineText(StringBuilder out, String rawLabel, String value) {
        line(out, rawLabel, Text.rawOf(value));
    }

    /** The bare stub reserves room for the service texts with runs of '#'. */
    private static String serviceText(String units) {
        if (units.length() >= 16) {
            boolean hashes = true;
            for (int i = 0; i < units.length(); ++i) hashes = hashes && units.charAt(i) == '#';
            if (hashes) return "not set";
        }
        return Text.unitsToRawUtf8(units);
    }

    private static void reportResources(byte[] file, StringBuilder out) {
        PeImage pe;
        try {
            pe = PeImage.parse(file);
        } catch (PeImage.NotPe e) {
            line(out, "format:", "not a Windows executable (no resources to report)");
            return;
        }
        long certSize = pe.directorySize(file, SECURITY_DIRECTORY);
        line(out, "signature:", pe.directoryAddress(file, SECURITY_DIRECTORY) != 0 && certSize != 0
                ? "present (" + certSize + " bytes)" : "none");
        ResourceTree tree;
        try {
            tree = ResourceTree.read(file);
        } catch (ResourceTree.Damaged e) {
            line(out, "resources:", e.getMessage());
            return;
        }
        String[] labels = {"service name:", "display name:", "description:", "dependencies:"};
        ResourceTree.Data block = tree.find(ResourceTree.RT_STRING, IDENTITY_BLOCK);
        String[] strings = block != null ? StringBlock.decode(block.bytes) : null;
        if (strings != null) {
            for (int i = 0; i < 4; ++i) line(out, labels[i], serviceText(strings[i]));
            String settings = Text.unitsToRawUtf8(strings[4]);
            int end = settings.length();
            while (end > 0 && settings.charAt(end - 1) == '\n') --end;
            settings = settings.substring(0, end).replace('\n', ' ');
            if (!settings.isEmpty()) line(out, "service settings:", settings);
        } else {
            line(out, "service identity:", "none");
        }
        StringBuilder sizes = new StringBuilder();
        for (String s : IconGroup.sizes(tree)) sizes.append(sizes.length() == 0 ? "" : " ").append(s);
        line(out, "icon sizes:", sizes.length() == 0 ? "none" : sizes.toString());
        ResourceTree.Data version = tree.find(ResourceTree.RT_VERSION, 1);
        List<String[]> texts = version != null ? VersionResource.readStrings(version.bytes) : null;
        if (version == null) {
            line(out, "version:", "none");
        } else if (texts == null) {
            line(out, "version:", "damaged");
        } else {
            out.append("version:\n");
            for (String[] t : texts) line(out, "  " + t[0] + ":", t[1]);
        }
        ResourceTree.Data manifest = tree.find(ResourceTree.RT_MANIFEST, 1);
        String level = "none";
        if (manifest != null) {
            String text = Text.raw(manifest.bytes);
            int at = text.indexOf("requestedExecutionLevel level=\"");
            level = "present";
            if (at >= 0) {
                int start = at + 31;
                int end = text.indexOf('"', start);
                if (end >= 0) level += ", " + text.substring(start, end);
            }
            if (text.contains(">UTF-8</activeCodePage>")) level += ", UTF-8 code page";
        }
        line(out, "manifest:", level);
    }
}
