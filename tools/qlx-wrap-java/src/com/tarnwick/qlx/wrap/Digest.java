// The integrity digest the launcher checks at every start: a 128-bit
// multiply-rotate hash over 64-byte stripes in eight 64-bit lanes, and the
// rule for which bytes of a wrapped file it covers (everything but the
// digest itself, the bytes after the archive, and the PE checksum and
// certificate-table entry that code signing rewrites).
package com.tarnwick.qlx.wrap;

import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.util.ArrayList;
import java.util.List;

final class Digest {
    static final int SIZE = 16;

    private static final long P1 = 0x9E3779B185EBCA87L;
    private static final long P2 = 0xC2B2AE3D27D4EB4FL;
    private static final long P3 = 0x165667B19E3779F9L;
    private static final long P4 = 0xFF51AFD7ED558CCDL;
    private static final long P5 = 0xC4CEB9FE1A85EC53L;
    private static final int LANES = 8;
    private static final int STRIPE = LANES * 8;

    private Digest() {}

    /** The streaming hash: bytes in, 16 bytes out. */
    static final class Hasher {
        private final long[] lanes = new long[LANES];
        private final byte[] buffer = new byte[STRIPE];
        private int buffered;
        private long total;

        Hasher() {
            for (int i = 0; i < LANES; ++i) lanes[i] = P3 * (2L * i + 1) + P1;
        }

        void update(byte[] data, int off, int size) {
            if (size == 0) return;
            total += size;
            if (buffered != 0) {
                int take = Math.min(STRIPE - buffered, size);
                System.arraycopy(data, off, buffer, buffered, take);
                buffered += take;
                off += take;
                size -= take;
                if (buffered < STRIPE) return;
                stripes(buffer, 0, 1);
                buffered = 0;
            }
            int whole = size / STRIPE;
            stripes(data, off, whole);
            off += whole * STRIPE;
            size -= whole * STRIPE;
            System.arraycopy(data, off, buffer, 0, size);
            buffered = size;
        }

        byte[] finish() {
            if (buffered != 0) {
                java.util.Arrays.fill(buffer, buffered, STRIPE, (byte) 0);
                stripes(buffer, 0, 1);
            }
            long x = 0;
            long y = 0;
            for (int i = 0; i < LANES; i += 2) {
                x ^= avalanche(lanes[i] + i);
                y ^= avalanche(lanes[i + 1] + i + 1);
            }
            x ^= total * P1;
            y += Long.rotateLeft(x, 23);
            x = avalanche(x);
            y ^= Long.rotateLeft(x, 41) + total;
            y = avalanche(y);
            x += y;
            byte[] out = new byte[SIZE];
            Bytes.put64(out, 0, x);
            Bytes.put64(out, 8, y);
            return out;
        }

        private void stripes(byte[] p, int off, int count) {
            ByteBuffer b = ByteBuffer.wrap(p).order(ByteOrder.LITTLE_ENDIAN);
            long l0 = lanes[0], l1 = lanes[1], l2 = lanes[2], l3 = lanes[3];
            long l4 = lanes[4], l5 = lanes[5], l6 = lanes[6], l7 = lanes[7];
            for (int s = 0; s < count; ++s, off += STRIPE) {
                l0 = Long.rotateLeft(l0 + b.getLong(off) * P2, 31) * P1;
                l1 = Long.rotateLeft(l1 + b.getLong(off + 8) * P2, 31) * P1;
                l2 = Long.rotateLeft(l2 + b.getLong(off + 16) * P2, 31) * P1;
                l3 = Long.rotateLeft(l3 + b.getLong(off + 24) * P2, 31) * P1;
                l4 = Long.rotateLeft(l4 + b.getLong(off + 32) * P2, 31) * P1;
                l5 = Long.rotateLeft(l5 + b.getLong(off + 40) * P2, 31) * P1;
                l6 = Long.rotateLeft(l6 + b.getLong(off + 48) * P2, 31) * P1;
                l7 = Long.rotateLeft(l7 + b.getLong(off + 56) * P2, 31) * P1;
            }
            lanes[0] = l0; lanes[1] = l1; lanes[2] = l2; lanes[3] = l3;
            lanes[4] = l4; lanes[5] = l5; lanes[6] = l6; lanes[7] = l7;
        }

        private static long avalanche(long v) {
            v ^= v >>> 33;
            v *= P4;
            v ^= v >>> 29;
            v *= P5;
            v ^= v >>> 32;
            return v;
        }
    }

    /**
     * The PE fields code signing rewrites (checksum, certificate-table
     * entry) as {begin, end} pairs, when the file is a PE image and they lie
     * before `limit`; empty otherwise.
     */
    static List<long[]> signingFields(Source file, long limit) throws IOException {
        List<long[]> out = new ArrayList<long[]>();
        if (limit < 0x40) return out;
        byte[] mz = file.read(0, 2);
        if (mz[0] != 'M' || mz[1] != 'Z') return out;
        long pe = file.u32(0x3C);
        if (pe + 24 + 2 > limit) return out;
        byte[] signature = file.read(pe, 4);
        if (signature[0] != 'P' || signature[1] != 'E' || signature[2] != 0 || signature[3] != 0) return out;
        long opt = pe + 24;
        int magic = file.u16(opt);
        long security;
        if (magic == 0x20B) {
            security = opt + 144;
        } else if (magic == 0x10B) {
            security = opt + 128;
        } else {
            return out;
        }
        long checksum = opt + 64;
        if (security + 8 > limit) return out;
        out.add(new long[] {checksum, checksum + 4});
        out.add(new long[] {security, security + 8});
        return out;
    }

    /** The covered byte ranges in file order, or null for a layout that does not fit the file. */
    static List<long[]> coveredRanges(Source file, long digestAt, long trailing, long fileSize) throws IOException {
        if (digestAt < 0 || trailing < 0 || trailing > fileSize || digestAt > fileSize - trailing
                || SIZE > fileSize - trailing - digestAt) {
            return null;
        }
        List<long[]> out = new ArrayList<long[]>();
        long pos = 0;
        for (long[] skip : signingFields(file, digestAt)) {
            out.add(new long[] {pos, skip[0]});
            pos = skip[1];
        }
        out.add(new long[] {pos, digestAt});
        out.add(new long[] {digestAt + SIZE, fileSize - trailing});
        return out;
    }

    /** The digest of a wrapped file, read piece by piece. */
    static byte[] ofFile(Source file, Payload.Layout layout) throws IOException {
        List<long[]> ranges = coveredRanges(file, layout.digestOffset, layout.trailingLength, layout.fileSize);
        Hasher h = new Hasher();
        byte[] chunk = new byte[256 * 1024];
        if (ranges == null) {
            ranges = new ArrayList<long[]>();
            ranges.add(new long[] {0, layout.fileSize});
        }
        for (long[] r : ranges) {
            for (long pos = r[0]; pos < r[1];) {
                int n = (int) Math.min(chunk.length, r[1] - pos);
                file.read(pos, chunk, 0, n);
                h.update(chunk, 0, n);
                pos += n;
            }
        }
        return h.finish();
    }
}
