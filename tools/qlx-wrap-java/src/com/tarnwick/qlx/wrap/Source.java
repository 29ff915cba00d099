// Bytes read by position, from a file or from memory, so large archives are
// read piece by piece and never held whole.
package com.tarnwick.qlx.wrap;

import java.io.Closeable;
import java.io.EOFException;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.channels.FileChannel;

abstract class Source implements Closeable {
    abstract long size();

    /** Reads exactly `length` bytes at `offset`. */
    abstract void read(long offset, byte[] into, int at, int length) throws IOException;

    byte[] read(long offset, int length) throws IOException {
        byte[] out = new byte[length];
        read(offset, out, 0, length);
        return out;
    }

    int u16(long offset) throws IOException {
        byte[] b = read(offset, 2);
        return (b[0] & 0xFF) | (b[1] & 0xFF) << 8;
    }

    long u32(long offset) throws IOException {
        return Bytes.u32(read(offset, 4), 0);
    }

    @Override
    public void close() throws IOException {}

    static Source of(byte[] data) {
        return new Memory(data);
    }

    static Source of(FileChannel channel) throws IOException {
        return new File(channel);
    }

    private static final class Memory extends Source {
        private final byte[] data;

        Memory(byte[] data) {
            this.data = data;
        }

        @Override
        long size() {
            return data.length;
        }

        @Override
        void read(long offset, byte[] into, int at, int length) throws IOException {
            if (offset < 0 || offset + length > data.length) throw new EOFException();
            System.arraycopy(data, (int) offset, into, at, length);
        }
    }

    private static final class File extends Source {
        private final FileChannel channel;
        private final long size;

        File(FileChannel channel) throws IOException {
            this.channel = channel;
            this.size = channel.size();
        }

        @Override
        long size() {
            return size;
        }

        @Override
        void read(long offset, byte[] into, int at, int length) throws IOException {
            ByteBuffer buffer = ByteBuffer.wrap(into, at, length);
            long position = offset;
            while (buffer.hasRemaining()) {
                int n = channel.read(buffer, position);
                if (n < 0) throw new EOFException("file shrank while reading");
                position += n;
            }
        }

        @Override
        public void close() throws IOException {
            channel.close();
        }
    }
}
