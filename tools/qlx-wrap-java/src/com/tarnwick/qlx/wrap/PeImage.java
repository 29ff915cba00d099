// The headers of a PE image: the section table and the data directories,
// with every offset checked against the file, so the generator and
// --inspect can look at any bytes without reading outside them.
package com.tarnwick.qlx.wrap;

import java.util.ArrayList;
import java.util.List;

final class PeImage {
    static final class Section {
        String name;
        long virtualSize;
        long virtualAddress;
        long rawSize;
        long rawPointer;
        int headerOffset; // of this entry in the section table
    }

    boolean pe32plus;
    int optionalHeader;
    int dataDirectories; // file offset of entry 0
    long directoryCount;
    long sectionAlignment = 1;
    long fileAlignment = 1;
    int checksumOffset;
    final List<Section> sections = new ArrayList<Section>();

    private PeImage() {}

    /** Thrown with the reason an image is not a PE image. */
    static final class NotPe extends Exception {
        private static final long serialVersionUID = 1L;

        NotPe(String message) {
            super(message);
        }
    }

    static boolean isPe(byte[] image) {
        try {
            parse(image, image.length);
            return true;
        } catch (NotPe e) {
            return false;
        }
    }

    static PeImage parse(byte[] d) throws NotPe {
        return parse(d, d.length);
    }

    /**
     * Parses the image at the start of a file of `size` bytes whose first
     * d.length bytes are `d` (the headers always lie in those).
     */
    static PeImage parse(byte[] d, long size) throws NotPe {
        PeImage p = new PeImage();
        String error = "not a PE image";
        if (size < 0x40 || d.length < 0x40 || d[0] != 'M' || d[1] != 'Z') throw new NotPe(error);
        long pe = Bytes.u32(d, 0x3C);
        if (!Bytes.inside(size, pe, 26) || !Bytes.inside(d.length, pe, 26) || d[(int) pe] != 'P'
                || d[(int) pe + 1] != 'E' || d[(int) pe + 2] != 0 || d[(int) pe + 3] != 0) {
            throw new NotPe(error);
        }
        int count = Bytes.u16(d, pe + 6);
        int optSize = Bytes.u16(d, pe + 20);
        p.optionalHeader = (int) pe + 24;
        int magic = Bytes.u16(d, p.optionalHeader);
        if (magic != 0x20B && magic != 0x10B) throw new NotPe(error);
        p.pe32plus = magic == 0x20B;
        long dirs = p.optionalHeader + (p.pe32plus ? 112 : 96);
        error = "PE optional header is damaged";
        if (!Bytes.inside(size, p.optionalHeader, optSize) || dirs > p.optionalHeader + optSize) throw new NotPe(error);
        if (!Bytes.inside(d.length, p.optionalHeader, optSize)) throw new NotPe(error);
        p.directoryCount = Math.min(Bytes.u32(d, dirs - 4), (p.optionalHeader + optSize - dirs) / 8);
        p.dataDirectories = (int) dirs;
        p.sectionAlignment = Math.max(Bytes.u32(d, p.optionalHeader + 32), 1);
        p.fileAlignment = Math.max(Bytes.u32(d, p.optionalHeader + 36), 1);
        p.checksumOffset = p.optionalHeader + 64;
        long table = p.optionalHeader + optSize;
        error = "PE section table is damaged";
        if (!Bytes.inside(size, table, 40L * count) || !Bytes.inside(d.length, table, 40L * count)) {
            throw new NotPe(error);
        }
        for (int i = 0; i < count; ++i) {
            int s = (int) (table + 40L * i);
            Section sec = new Section();
            StringBuilder name = new StringBuilder();
            for (int k = 0; k < 8 && d[s + k] != 0; ++k) name.append((char) (d[s + k] & 0xFF));
            sec.name = name.toString();
            sec.virtualSize = Bytes.u32(d, s + 8);
            sec.virtualAddress = Bytes.u32(d, s + 12);
            sec.rawSize = Bytes.u32(d, s + 16);
            sec.rawPointer = Bytes.u32(d, s + 20);
            sec.headerOffset = s;
            // A section without file data (.bss) may hold any pointer; loaders ignore it.
            if (sec.rawSize != 0 && !Bytes.inside(size, sec.rawPointer, sec.rawSize)) {
                throw new NotPe("PE section " + sec.name + " lies outside the file");
            }
            p.sections.add(sec);
        }
        return p;
    }

    /** Data directory entry `index` (RVA or file offset); zero when absent. */
    long directoryAddress(byte[] image, int index) {
        return index < directoryCount ? Bytes.u32(image, dataDirectories + 8L * index) : 0;
    }

    long directorySize(byte[] image, int index) {
        return index < directoryCount ? Bytes.u32(image, dataDirectories + 8L * index + 4) : 0;
    }

    /** File offset of `len` bytes at `rva`, inside one section's raw data; -1 when none holds them. */
    long rvaToOffset(long rva, long len) {
        for (Section s : sections) {
            if (rva >= s.virtualAddress && rva + len <= s.virtualAddress + s.rawSize) {
                return s.rawPointer + (rva - s.virtualAddress);
            }
        }
        return -1;
    }

    /** The end of the last section's raw data: where appended data starts. */
    long imageEnd() {
        long end = 0;
        for (Section s : sections) {
            if (s.rawSize != 0) end = Math.max(end, s.rawPointer + s.rawSize);
        }
        return end;
    }
}
