// Just enough of the zip format to check an application archive, to drop
// its comment and to merge the entries of several archives without
// recompressing them. Only the structures the Java runtime's zip reader
// relies on are checked: the end record, the central directory and the
// local headers it points at. Entry data is never read, only copied.
package com.tarnwick.qlx.wrap;

import java.io.IOException;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Set;

final class ZipArchive {
    private static final long END_SIG = 0x06054B50L;
    private static final long CENTRAL_SIG = 0x02014B50L;
    private static final long LOCAL_SIG = 0x04034B50L;
    private static final long DESCRIPTOR_SIG = 0x08074B50L;
    private static final long ZIP64_LOCATOR_SIG = 0x07064B50L;
    private static final int END_SIZE = 22;
    private static final int CENTRAL_SIZE = 46;
    private static final int LOCAL_SIZE = 30;
    private static final long LIMIT = 0xFFFFFFFEL;

    static final class Entry {
        String name; // byte string
        int centralAt; // of its record within the central directory bytes
        int centralSize;
        long localOffset;
        long localSize; // local header, data and data descriptor
    }

    /** A checked archive: where its parts lie, and its central directory. */
    static final class View {
        final Source data;
        long endOffset;
        long centralOffset;
        byte[] central;
        final List<Entry> entries = new ArrayList<Entry>();

        View(Source data) {
            this.data = data;
        }

        /** Length up to and including the end record (a comment is dropped). */
        long lengthWithoutComment() {
            return endOffset + END_SIZE;
        }
    }

    private ZipArchive() {}

    private static final class Bad extends Exception {
        private static final long serialVersionUID = 1L;

        Bad(String message) {
            super(message);
        }
    }

    /**
     * Validates a whole archive. Archives that need zip64 fields or that
     * carry a prefix (offsets not relative to the first byte) are refused.
     * Returns the view, or throws with the reason as the message.
     */
    static View parse(Source d, String archiveName) throws WrapException, IOException {
        try {
            return parse(d);
        } catch (Bad bad) {
            throw new WrapException(ExitCodes.BAD_ARCHIVE, archiveName + ": " + bad.getMessage());
        }
    }

    private static View parse(Source d) throws Bad, IOException {
        View view = new View(d);
        long end = findEnd(d);
        if (end < 0) throw new Bad("not a zip archive (no end-of-central-directory record)");
        byte[] e = d.read(end, END_SIZE);
        int disk = Bytes.u16(e, 4);
        int cdDisk = Bytes.u16(e, 6);
        int onDisk = Bytes.u16(e, 8);
        int total = Bytes.u16(e, 10);
        long cdSize = Bytes.u32(e, 12);
        long cdOffset = Bytes.u32(e, 16);
        if (total == 0xFFFF || cdSize == 0xFFFFFFFFL || cdOffset == 0xFFFFFFFFL
                || (end >= 20 && d.u32(end - 20) == ZIP64_LOCATOR_SIG)) {
            throw new Bad("zip64 archives are not supported");
        }
        if (disk != 0 || cdDisk != 0 || onDisk != total) throw new Bad("multi-volume zip archives are not supported");
        if (cdOffset + cdSize > end) throw new Bad("zip central directory lies outside the file");
        if (cdOffset + cdSize != end) {
            throw new Bad("zip central directory is not where its end record says (data before the "
                    + "archive or between directory and end record)");
        }
        if (cdSize > Integer.MAX_VALUE - 16) throw new Bad("zip central directory is too large");
        view.endOffset = end;
        view.centralOffset = cdOffset;
        byte[] c = d.read(cdOffset, (int) cdSize);
        view.central = c;
        int pos = 0;
        byte[] local = new byte[LOCAL_SIZE];
        for (int i = 0; i < total; ++i) {
            if (pos + CENTRAL_SIZE > cdSize || Bytes.u32(c, pos) != CENTRAL_SIG) {
                throw new Bad("zip central directory record " + i + " is damaged");
            }
            int flags = Bytes.u16(c, pos + 8);
            long csize = Bytes.u32(c, pos + 20);
            long usize = Bytes.u32(c, pos + 24);
            int nameLen = Bytes.u16(c, pos + 28);
            int extraLen = Bytes.u16(c, pos + 30);
            int commentLen = Bytes.u16(c, pos + 32);
            long localAt = Bytes.u32(c, pos + 42);
            int recordSize = CENTRAL_SIZE + nameLen + extraLen + commentLen;
            if (pos + (long) recordSize > cdSize) {
                throw new Bad("zip central directory record " + i + " runs past the directory");
            }
            if (csize == 0xFFFFFFFFL || usize == 0xFFFFFFFFL || localAt == 0xFFFFFFFFL) {
                throw new Bad("zip64 archives are not supported");
            }
            Entry entry = new Entry();
            entry.name = Text.raw(c, pos + CENTRAL_SIZE, pos + CENTRAL_SIZE + nameLen);
            entry.centralAt = pos;
            entry.centralSize = recordSize;
            entry.localOffset = localAt;
            if (localAt + LOCAL_SIZE > cdOffset) throw noLocalHeader(entry);
            d.read(localAt, local, 0, LOCAL_SIZE);
            if (Bytes.u32(local, 0) != LOCAL_SIG) throw noLocalHeader(entry);
            long span = LOCAL_SIZE + Bytes.u16(local, 26) + Bytes.u16(local, 28) + csize;
            if ((flags & 0x08) != 0) {
                // Data descriptor: CRC, sizes, with or without its signature.
                long at = localAt + span;
                span += (at + 4 <= cdOffset && d.u32(at) == DESCRIPTOR_SIG) ? 16 : 12;
            }
            if (localAt + span > cdOffset) {
                throw new Bad("zip entry '" + Text.printable(entry.name) + "' runs into the central directory");
            }
            entry.localSize = span;
            view.entries.add(entry);
            pos += recordSize;
        }
        if (pos != cdSize) throw new Bad("zip central directory size does not match its records");
        return view;
    }

    private static Bad noLocalHeader(Entry entry) {
        return new Bad("zip entry '" + Text.printable(entry.name) + "' has no local header where the directory says");
    }

    /** The end record whose comment runs exactly to the end of the file, looked for from the end. */
    private static long findEnd(Source d) throws IOException {
        long size = d.size();
        if (size < END_SIZE) return -1;
        long last = size - END_SIZE;
        long first = last > 0xFFFF ? last - 0xFFFF : 0;
        byte[] tail = d.read(first, (int) (size - first));
        for (long pos = last; pos >= first; --pos) {
            int i = (int) (pos - first);
            if (Bytes.u32(tail, i) == END_SIG && pos + END_SIZE + Bytes.u16(tail, i + 20) == size) return pos;
        }
        return -1;
    }

    static boolean isMetadataOfMergedArchive(String name) {
        if (!name.startsWith("META-INF/")) return false;
        String rest = name.substring(9);
        if (rest.indexOf('/') >= 0) return false;
        String upper = upperAscii(rest);
        return upper.equals("MANIFEST.MF") || upper.equals("INDEX.LIST") || upper.endsWith(".SF")
                || upper.endsWith(".RSA") || upper.endsWith(".DSA") || upper.endsWith(".EC");
    }

    private static String upperAscii(String s) {
        StringBuilder out = new StringBuilder(s.length());
        for (int i = 0; i < s.length(); ++i) {
            char c = s.charAt(i);
            out.append(c >= 'a' && c <= 'z' ? (char) (c - 32) : c);
        }
        return out.toString();
    }

    /** One entry of a merged archive: where it comes from and where its header goes. */
    static final class Piece {
        final View from;
        final Entry entry;

        Piece(View from, Entry entry) {
            this.from = from;
            this.entry = entry;
        }
    }

    /**
     * A merged archive, planned before a byte is written: the application's
     * entries, then the entries of later archives whose names are not taken
     * yet, copied raw. Manifests and signature files of merged archives are
     * left out (their signatures would not match the merged archive).
     */
    static final class Merge {
        final List<Piece> pieces = new ArrayList<Piece>();
        byte[] tail; // central directory and end record

        long length() {
            long n = tail.length;
            for (Piece p : pieces) n += p.entry.localSize;
            return n;
        }
    }

    static Merge plan(List<View> sources) throws WrapException {
        Merge merge = new Merge();
        Set<String> taken = new HashSet<String>();
        Bytes central = new Bytes();
        long out = 0;
        int count = 0;
        for (int s = 0; s < sources.size(); ++s) {
            View v = sources.get(s);
            for (Entry e : v.entries) {
                if (taken.contains(e.name)) continue;
                if (s > 0 && isMetadataOfMergedArchive(e.name)) continue;
                taken.add(e.name);
                if (out > LIMIT - e.localSize) throw tooLarge("merged archive would need zip64 (larger than 4 GB)");
                int at = central.size();
                central.add(v.central, e.centralAt, e.centralSize);
                central.put32(at + 42, out);
                merge.pieces.add(new Piece(v, e));
                out += e.localSize;
                ++count;
            }
        }
        if (count >= 0xFFFF) throw tooLarge("merged archive would need zip64 (65535 entries or more)");
        if (out + central.size() > LIMIT) throw tooLarge("merged archive would need zip64 (larger than 4 GB)");
        byte[] end = new byte[END_SIZE];
        Bytes.put32(end, 0, END_SIG);
        Bytes.put16(end, 8, count);
        Bytes.put16(end, 10, count);
        Bytes.put32(end, 12, central.size());
        Bytes.put32(end, 16, out);
        central.add(end);
        merge.tail = central.toArray();
        return merge;
    }

    private static WrapException tooLarge(String message) {
        return new WrapException(ExitCodes.BAD_ARCHIVE, message);
    }

    /** Where the bytes of an archive go: called with pieces of the output in order. */
    interface Sink {
        void write(byte[] b, int off, int len) throws IOException;
    }

    static void copy(Source from, long offset, long length, Sink to, byte[] buffer) throws IOException {
        for (long done = 0; done < length;) {
            int n = (int) Math.min(buffer.length, length - done);
            from.read(offset + done, buffer, 0, n);
            to.write(buffer, 0, n);
            done += n;
        }
    }

    /** The archive itself, up to its end record, with the comment length set to zero. */
    static void writeWithoutComment(View v, Sink to, byte[] buffer) throws IOException {
        copy(v.data, 0, v.endOffset + END_SIZE - 2, to, buffer);
        to.write(new byte[2], 0, 2);
    }

    static void writeMerged(Merge merge, Sink to, byte[] buffer) throws IOException {
        for (Piece p : merge.pieces) copy(p.from.data, p.entry.localOffset, p.entry.localSize, to, buffer);
        to.write(merge.tail, 0, merge.tail.length);
    }
}
