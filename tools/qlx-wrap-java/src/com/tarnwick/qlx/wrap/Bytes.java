// Little-endian fields in byte arrays, and a growable byte buffer with
// positional writes, the way the PE and resource writers need them.
package com.tarnwick.qlx.wrap;

import java.util.Arrays;

final class Bytes {
    private byte[] data;
    private int size;

    Bytes() {
        this(64);
    }

    Bytes(int capacity) {
        data = new byte[Math.max(capacity, 16)];
    }

    Bytes(byte[] initial, int length) {
        data = Arrays.copyOf(initial, Math.max(length, 16));
        size = length;
    }

    int size() {
        return size;
    }

    byte[] toArray() {
        return Arrays.copyOf(data, size);
    }

    /** Grows (with zeros) or shrinks to `length`. */
    void resize(int length) {
        ensure(length);
        if (length > size) Arrays.fill(data, size, length, (byte) 0);
        size = length;
    }

    void add(int b) {
        ensure(size + 1);
        data[size++] = (byte) b;
    }

    void add(byte[] b) {
        add(b, 0, b.length);
    }

    void add(byte[] b, int from, int length) {
        ensure(size + length);
        System.arraycopy(b, from, data, size, length);
        size += length;
    }

    void add(Bytes b) {
        add(b.data, 0, b.size);
    }

    void put16(int at, long v) {
        put16(data, at, v);
    }

    void put32(int at, long v) {
        put32(data, at, v);
    }

    int get(int at) {
        return data[at] & 0xFF;
    }

    long get32(int at) {
        return u32(data, at);
    }

    void alignTo(int alignment) {
        resize((int) alignUp(size, alignment));
    }

    private void ensure(int length) {
        if (length > data.length) data = Arrays.copyOf(data, Math.max(length, data.length * 2));
    }

    static long alignUp(long v, long a) {
        return (v + a - 1) / a * a;
    }

    static int u16(byte[] d, long at) {
        return (d[(int) at] & 0xFF) | (d[(int) at + 1] & 0xFF) << 8;
    }

    static long u32(byte[] d, long at) {
        int i = (int) at;
        return (d[i] & 0xFFL) | (d[i + 1] & 0xFFL) << 8 | (d[i + 2] & 0xFFL) << 16 | (d[i + 3] & 0xFFL) << 24;
    }

    static void put16(byte[] d, long at, long v) {
        d[(int) at] = (byte) v;
        d[(int) at + 1] = (byte) (v >> 8);
    }

    static void put32(byte[] d, long at, long v) {
        for (int i = 0; i < 4; ++i) d[(int) at + i] = (byte) (v >> (8 * i));
    }

    static void put64(byte[] d, long at, long v) {
        for (int i = 0; i < 8; ++i) d[(int) at + i] = (byte) (v >> (8 * i));
    }

    /** Whether [at, at + len) lies inside a buffer of `size` bytes. */
    static boolean inside(long size, long at, long len) {
        return at >= 0 && len >= 0 && at <= size && len <= size - at;
    }
}
