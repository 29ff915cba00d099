// Locating the payload the generator appends to the launcher image:
//
//   [image][config block: BOM, text, NUL][L: i32][digest: 16][archive: A][trailing: T]
//
// Every length in the file is untrusted, so each is checked against the
// file size before anything is read through it.
package com.tarnwick.qlx.wrap;

import java.io.IOException;

final class Payload {
    /** The 8-byte archive length field is followed by this marker and its NUL. */
    static final byte[] SLOT_MARKER = "qlx:arclen:v1\0".getBytes(Text.LATIN1);
    static final int END_RECORD = 22;
    private static final long MINIMUM_WINDOW = 0x500000;
    private static final long ROOT_JAR_TRAILING_LIMIT = 0x10000;

    enum Status {
        OK("payload found"),
        NO_ARCHIVE_LENGTH("no payload: this is the bare launcher stub"),
        NO_ARCHIVE_END("archive end record not found"),
        BAD_ARCHIVE_LENGTH("archive length does not fit in the file"),
        BAD_BLOCK_LENGTH("configuration block length is damaged"),
        BLOCK_NOT_TERMINATED("configuration block is not terminated"),
        UNREADABLE("the launcher file cannot be read");

        final String text;

        Status(String text) {
            this.text = text;
        }
    }

    static final class Layout {
        long fileSize;
        long trailingLength;
        long archiveLength;
        long digestOffset;
        long blockLength;
        long blockOffset;
        boolean rootJarLength;
    }

    private Payload() {}

    /** Position of the only archive slot marker at or after offset 8, or -1 when there is none or more than one. */
    static long findArchiveSlot(Source data) throws IOException {
        long size = data.size();
        int m = SLOT_MARKER.length;
        if (size < 22) return -1;
        long found = -1;
        int chunk = 1 << 20;
        byte[] buffer = new byte[chunk + m];
        long last = size - m;
        for (long start = 8; start <= last; start += chunk) {
            int n = (int) Math.min(chunk + m - 1, size - start);
            data.read(start, buffer, 0, n);
            int positions = (int) Math.min(chunk, last - start + 1);
            for (int i = 0; i < positions; ++i) {
                if (buffer[i] != SLOT_MARKER[0]) continue;
                int k = 1;
                while (k < m && buffer[i + k] == SLOT_MARKER[k]) ++k;
                if (k == m) {
                    // Two markers: writing into either could corrupt the image.
                    if (found >= 0) return -1;
                    found = start + i;
                }
            }
        }
        return found;
    }

    /** Offset of the last end-of-central-directory signature in the search window, or -1. */
    static long findArchiveEnd(Source data) throws IOException {
        long size = data.size();
        if (size < END_RECORD) return -1;
        long window = Math.max(size / 10, MINIMUM_WINDOW);
        long lowest = size > window + END_RECORD ? size - window - END_RECORD : 0;
        int chunk = 1 << 20;
        for (long hi = size - END_RECORD; hi >= lowest;) {
            long lo = Math.max(lowest, hi - chunk + 1);
            byte[] b = data.read(lo, (int) (hi - lo + 4));
            for (long at = hi; at >= lo; --at) {
                int i = (int) (at - lo);
                if (b[i] == 'P' && b[i + 1] == 'K' && b[i + 2] == 5 && b[i + 3] == 6) return at;
            }
            hi = lo - 1;
        }
        return -1;
    }

    static Status locate(Source data, long archiveLength, Layout out) throws IOException {
        long s = data.size();
        out.fileSize = s;
        out.archiveLength = archiveLength;
        long end = findArchiveEnd(data);
        if (end >= 0) {
            out.trailingLength = s - end - END_RECORD;
            out.rootJarLength = out.trailingLength >= ROOT_JAR_TRAILING_LIMIT;
        }
        if (archiveLength == 0) return Status.NO_ARCHIVE_LENGTH;
        if (end < 0) return Status.NO_ARCHIVE_END;
        // The archive holds at least its own end record, and the digest and
        // the length field have to fit in front of it.
        if (archiveLength < END_RECORD || archiveLength > s - out.trailingLength - Digest.SIZE - 4) {
            return Status.BAD_ARCHIVE_LENGTH;
        }
        long digestOffset = s - out.trailingLength - archiveLength - Digest.SIZE;
        out.digestOffset = digestOffset;
        long blockLength = (int) data.u32(digestOffset - 4);
        out.blockLength = blockLength;
        if (blockLength <= 0 || blockLength > digestOffset - 4) return Status.BAD_BLOCK_LENGTH;
        out.blockOffset = digestOffset - 4 - blockLength;
        if (data.read(digestOffset - 5, 1)[0] != 0) return Status.BLOCK_NOT_TERMINATED;
        return Status.OK;
    }
}
