// The resources of a PE image as a tree (type -> name -> language -> data)
// that can be read from an image, changed, and written back as a complete
// resource section laid out in the order the loader walks it. Every
// resource the generator does not touch is carried over byte for byte.
package com.tarnwick.qlx.wrap;

import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;

final class ResourceTree {
    static final long RT_ICON = 3;
    static final long RT_STRING = 6;
    static final long RT_GROUP_ICON = 14;
    static final long RT_VERSION = 16;
    static final long RT_MANIFEST = 24;
    static final long LANG_EN_US = 1033;
    private static final int RESOURCE_DIRECTORY = 2;
    private static final int RELOC_DIRECTORY = 5;

    /** A type or name: a number or a string. Named entries sort first, as the loader's binary search expects. */
    static final class Key implements Comparable<Key> {
        final boolean named;
        final long id;
        final String name;

        private Key(boolean named, long id, String name) {
            this.named = named;
            this.id = id;
            this.name = name;
        }

        static Key of(long id) {
            return new Key(false, id, "");
        }

        static Key named(String name) {
            return new Key(true, 0, name);
        }

        @Override
        public int compareTo(Key o) {
            if (named != o.named) return named ? -1 : 1;
            return named ? name.compareTo(o.name) : Long.compare(id, o.id);
        }

        @Override
        public boolean equals(Object o) {
            return o instanceof Key && compareTo((Key) o) == 0;
        }

        @Override
        public int hashCode() {
            return named ? name.hashCode() : (int) id;
        }
    }

    static final class Data {
        byte[] bytes;
        long codePage;

        Data(byte[] bytes, long codePage) {
            this.bytes = bytes;
            this.codePage = codePage;
        }
    }

    final TreeMap<Key, TreeMap<Key, TreeMap<Long, Data>>> types = new TreeMap<Key, TreeMap<Key, TreeMap<Long, Data>>>();

    static final class Damaged extends Exception {
        private static final long serialVersionUID = 1L;

        Damaged(String message) {
            super(message);
        }
    }

    TreeMap<Key, TreeMap<Long, Data>> type(long id) {
        Key k = Key.of(id);
        TreeMap<Key, TreeMap<Long, Data>> names = types.get(k);
        if (names == null) {
            names = new TreeMap<Key, TreeMap<Long, Data>>();
            types.put(k, names);
        }
        return names;
    }

    /** The data of type/id in language 1033, or else the first language; null when absent. */
    Data find(long type, long id) {
        TreeMap<Key, TreeMap<Long, Data>> names = types.get(Key.of(type));
        if (names == null) return null;
        TreeMap<Long, Data> langs = names.get(Key.of(id));
        if (langs == null || langs.isEmpty()) return null;
        Data d = langs.get(LANG_EN_US);
        return d != null ? d : langs.firstEntry().getValue();
    }

    /** Sets type/id to `data`, replacing every language it had. */
    void set(long type, long id, byte[] data) {
        TreeMap<Key, TreeMap<Long, Data>> names = type(type);
        TreeMap<Long, Data> langs = names.get(Key.of(id));
        if (langs == null) {
            langs = new TreeMap<Long, Data>();
            names.put(Key.of(id), langs);
        }
        long lang = langs.size() == 1 ? langs.firstKey() : LANG_EN_US;
        langs.clear();
        langs.put(lang, new Data(data, 0));
    }

    // Reading ---------------------------------------------------------------

    private static final class Reader {
        final byte[] image;
        final PeImage pe;
        final long base;
        final long size;
        int entries;
        final ResourceTree tree;

        Reader(byte[] image, PeImage pe, long base, long size, ResourceTree tree) {
            this.image = image;
            this.pe = pe;
            this.base = base;
            this.size = size;
            this.tree = tree;
        }

        Key readKey(long word) {
            if ((word & 0x80000000L) == 0) return Key.of(word);
            long rel = word & 0x7FFFFFFFL;
            long at = base + rel;
            if (rel + 2 > size || !Bytes.inside(image.length, at, 2)) return null;
            int len = Bytes.u16(image, at);
            if (rel + 2 + 2L * len > size) return null;
            StringBuilder name = new StringBuilder(len);
            for (int i = 0; i < len; ++i) name.append((char) Bytes.u16(image, at + 2 + 2L * i));
            return Key.named(name.toString());
        }

        interface Each {
            boolean entry(Key key, long target, boolean directory) throws Damaged;
        }

        boolean walk(long dir, Each each) throws Damaged {
            if (dir + 16 > size) return false;
            int count = Bytes.u16(image, base + dir + 12) + Bytes.u16(image, base + dir + 14);
            if (dir + 16 + 8L * count > size) return false;
            for (int i = 0; i < count; ++i) {
                if (++entries > 65536) return false; // a loop in a damaged tree
                long e = base + dir + 16 + 8L * i;
                long target = Bytes.u32(image, e + 4);
                Key key = readKey(Bytes.u32(image, e));
                if (key == null || !each.entry(key, target & 0x7FFFFFFFL, (target & 0x80000000L) != 0)) return false;
            }
            return true;
        }

        boolean readData(long entry, Key type, Key name, long lang) {
            if (entry + 16 > size) return false;
            long rva = Bytes.u32(image, base + entry);
            long length = Bytes.u32(image, base + entry + 4);
            long offset = pe.rvaToOffset(rva, length);
            if (offset < 0 || !Bytes.inside(image.length, offset, length)) return false;
            byte[] bytes = new byte[(int) length];
            System.arraycopy(image, (int) offset, bytes, 0, (int) length);
            TreeMap<Key, TreeMap<Long, Data>> names = tree.types.get(type);
            if (names == null) {
                names = new TreeMap<Key, TreeMap<Long, Data>>();
                tree.types.put(type, names);
            }
            TreeMap<Long, Data> langs = names.get(name);
            if (langs == null) {
                langs = new TreeMap<Long, Data>();
                names.put(name, langs);
            }
            langs.put(lang, new Data(bytes, Bytes.u32(image, base + entry + 8)));
            return true;
        }
    }

    /** Reads the tree of a PE image; an image without resources gives an empty tree. */
    static ResourceTree read(byte[] image) throws Damaged {
        PeImage pe;
        try {
            pe = PeImage.parse(image);
        } catch (PeImage.NotPe e) {
            throw new Damaged(e.getMessage());
        }
        final ResourceTree tree = new ResourceTree();
        long rva = pe.directoryAddress(image, RESOURCE_DIRECTORY);
        long size = pe.directorySize(image, RESOURCE_DIRECTORY);
        if (rva == 0 || size == 0) return tree;
        long base = pe.rvaToOffset(rva, size);
        if (base < 0) throw new Damaged("the resource directory lies outside the file");
        final Reader r = new Reader(image, pe, base, size, tree);
        boolean ok = r.walk(0, (type, t, tDir) -> tDir && r.walk(t, (name, n, nDir) -> nDir
                && r.walk(n, (lang, l, lDir) -> !lDir && !lang.named && r.readData(l, type, name, lang.id))));
        if (!ok) throw new Damaged("the resource directory is damaged");
        return tree;
    }

    // Writing ---------------------------------------------------------------

    private static int namedCount(Iterable<Key> keys) {
        int n = 0;
        for (Key k : keys) {
            if (k.named) ++n;
        }
        return n;
    }

    /** The section bytes of the tree placed at `rva` (directories, data entries, names, then data, 8-byte aligned). */
    byte[] serialize(long rva) {
        long dirBytes = 16 + 8L * types.size();
        long leaves = 0;
        for (TreeMap<Key, TreeMap<Long, Data>> names : types.values()) {
            dirBytes += 16 + 8L * names.size();
            for (TreeMap<Long, Data> langs : names.values()) {
                dirBytes += 16 + 8L * langs.size();
                leaves += langs.size();
            }
        }
        Bytes out = new Bytes((int) (dirBytes + 16 * leaves) + 1024);
        out.resize((int) (dirBytes + 16 * leaves));
        List<Object[]> names = new ArrayList<Object[]>(); // {slot, String}
        List<Object[]> data = new ArrayList<Object[]>(); // {leaf, Data}
        long nextDir = 16 + 8L * types.size();
        long nextLeaf = dirBytes;
        header(out, 0, namedCount(types.keySet()), types.size());
        long slot = 16;
        for (Map.Entry<Key, TreeMap<Key, TreeMap<Long, Data>>> type : types.entrySet()) {
            putKey(out, slot, type.getKey(), names);
            out.put32((int) slot + 4, 0x80000000L | nextDir);
            slot += 8;
            long typeDir = nextDir;
            TreeMap<Key, TreeMap<Long, Data>> typeNames = type.getValue();
            header(out, typeDir, namedCount(typeNames.keySet()), typeNames.size());
            nextDir += 16 + 8L * typeNames.size();
            long nameSlot = typeDir + 16;
            for (Map.Entry<Key, TreeMap<Long, Data>> name : typeNames.entrySet()) {
                putKey(out, nameSlot, name.getKey(), names);
                out.put32((int) nameSlot + 4, 0x80000000L | nextDir);
                nameSlot += 8;
                long nameDir = nextDir;
                header(out, nameDir, 0, name.getValue().size());
                nextDir += 16 + 8L * name.getValue().size();
                long langSlot = nameDir + 16;
                for (Map.Entry<Long, Data> lang : name.getValue().entrySet()) {
                    out.put32((int) langSlot, lang.getKey());
                    out.put32((int) langSlot + 4, nextLeaf);
                    data.add(new Object[] {nextLeaf, lang.getValue()});
                    langSlot += 8;
                    nextLeaf += 16;
                }
            }
        }
        for (Object[] n : names) {
            String text = (String) n[1];
            out.put32((int) (long) (Long) n[0], 0x80000000L | out.size());
            out.add(text.length());
            out.add(text.length() >> 8);
            for (int i = 0; i < text.length(); ++i) {
                out.add(text.charAt(i));
                out.add(text.charAt(i) >> 8);
            }
        }
        for (Object[] d : data) {
            Data value = (Data) d[1];
            int leaf = (int) (long) (Long) d[0];
            out.alignTo(8);
            out.put32(leaf, rva + out.size());
            out.put32(leaf + 4, value.bytes.length);
            out.put32(leaf + 8, value.codePage);
            out.add(value.bytes);
        }
        out.alignTo(8);
        return out.toArray();
    }

    private static void header(Bytes out, long at, int named, int total) {
        out.put16((int) at + 12, named);
        out.put16((int) at + 14, total - named);
    }

    private static void putKey(Bytes out, long at, Key key, List<Object[]> names) {
        if (key.named) {
            names.add(new Object[] {at, key.name});
        } else {
            out.put32((int) at, key.id);
        }
    }

    private static PeImage.Section sectionAt(PeImage pe, long rva) {
        for (PeImage.Section s : pe.sections) {
            if (rva >= s.virtualAddress && rva < s.virtualAddress + Math.max(s.virtualSize, s.rawSize)) return s;
        }
        return null;
    }

    /**
     * The image with its resource section replaced by this tree, the
     * sections after it moved (only base relocations may follow), and the
     * section table, resource directory entry, image and data sizes updated.
     */
    byte[] writeInto(byte[] image) throws Damaged {
        PeImage pe;
        try {
            pe = PeImage.parse(image);
        } catch (PeImage.NotPe e) {
            throw new Damaged(e.getMessage());
        }
        if (pe.fileAlignment > 0x10000 || (pe.fileAlignment & (pe.fileAlignment - 1)) != 0
                || (pe.sectionAlignment & (pe.sectionAlignment - 1)) != 0) {
            throw new Damaged("the image's alignments are not powers of two up to 64 KB");
        }
        long rva = pe.directoryAddress(image, RESOURCE_DIRECTORY);
        PeImage.Section rsrc = rva != 0 ? sectionAt(pe, rva) : null;
        if (rsrc == null || rsrc.virtualAddress != rva || rsrc.rawPointer > image.length) {
            throw new Damaged("the image has no resource section of its own");
        }
        // Sections after the resources move; only base relocations can,
        // because nothing but their directory entry refers to where they lie.
        List<PeImage.Section> after = new ArrayList<PeImage.Section>();
        for (PeImage.Section s : pe.sections) {
            if (s == rsrc) continue;
            if (s.virtualAddress <= rsrc.virtualAddress) {
                if (s.rawSize != 0 && s.rawPointer + s.rawSize > rsrc.rawPointer) {
                    throw new Damaged("the image's sections are not in file order");
                }
                continue;
            }
            if (!s.name.equals(".reloc") || s.rawPointer < rsrc.rawPointer + rsrc.rawSize) {
                throw new Damaged("section " + s.name + " follows the resources and cannot be moved");
            }
            after.add(s);
        }
        byte[] section = serialize(rva);
        long tailStart = pe.imageEnd();
        Bytes out = new Bytes(image, (int) rsrc.rawPointer);
        out.add(section);
        out.alignTo((int) pe.fileAlignment);
        long rawSize = out.size() - rsrc.rawPointer;
        out.put32(rsrc.headerOffset + 8, section.length);
        out.put32(rsrc.headerOffset + 16, rawSize);
        long rawDelta = rawSize - rsrc.rawSize;
        long nextVa = Bytes.alignUp(rva + section.length, pe.sectionAlignment);
        long imageSize = nextVa;
        for (PeImage.Section s : after) {
            if (pe.directoryAddress(image, RELOC_DIRECTORY) == s.virtualAddress) {
                out.put32(pe.dataDirectories + 8 * RELOC_DIRECTORY, nextVa);
            }
            out.put32(s.headerOffset + 12, nextVa);
            out.put32(s.headerOffset + 20, out.size());
            out.add(image, (int) s.rawPointer, (int) s.rawSize);
            nextVa = Bytes.alignUp(nextVa + Math.max(s.virtualSize, s.rawSize), pe.sectionAlignment);
            imageSize = nextVa;
        }
        // Whatever followed the image (the synthetic test stubs keep data there).
        if (tailStart < image.length) out.add(image, (int) tailStart, (int) (image.length - tailStart));
        out.put32(pe.dataDirectories + 8 * RESOURCE_DIRECTORY + 4, section.length);
        out.put32(pe.optionalHeader + 56, imageSize);
        long initialized = out.get32(pe.optionalHeader + 8);
        out.put32(pe.optionalHeader + 8, initialized + rawDelta);
        out.put32(pe.checksumOffset, 0);
        return out.toArray();
    }
}
