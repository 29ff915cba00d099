// The program icon: icon group 1 and the RT_ICON images it names, made
// from every image of an .ico file (a header plus 16-byte entries; the
// group keeps the first 12 bytes of each entry and the image's id).
package com.tarnwick.qlx.wrap;

import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.TreeMap;

final class IconGroup {
    private static final int ICO_ENTRY = 16;
    private static final int GROUP_ENTRY = 14;
    // A full Windows icon has about ten images of at most 256 pixels (256 KB
    // each as bitmaps); the caps leave room for that many times over.
    private static final int MAX_IMAGES = 64;
    private static final long MAX_BYTES = 16L << 20;

    private IconGroup() {}

    static final class NotIcon extends Exception {
        private static final long serialVersionUID = 1L;

        NotIcon(String message) {
            super(message);
        }
    }

    /** Replaces icon group 1 (and the icons it used) with every image of `ico`. */
    static void set(ResourceTree tree, byte[] ico) throws NotIcon {
        String notIcon = "not an icon file (.ico)";
        if (ico.length < 6 || Bytes.u16(ico, 0) != 0 || Bytes.u16(ico, 2) != 1) throw new NotIcon(notIcon);
        int count = Bytes.u16(ico, 4);
        if (count == 0 || 6 + (long) ICO_ENTRY * count > ico.length) throw new NotIcon(notIcon);
        if (count > MAX_IMAGES) {
            throw new NotIcon("icon file has " + count + " images; at most " + MAX_IMAGES + " are taken");
        }
        // Each image is copied into its own resource, so images that share
        // bytes would multiply a small file into a huge program.
        List<long[]> spans = new ArrayList<long[]>();
        long total = 0;
        for (int i = 0; i < count; ++i) {
            int e = 6 + ICO_ENTRY * i;
            long size = Bytes.u32(ico, e + 8);
            long offset = Bytes.u32(ico, e + 12);
            if (size < 8 || !Bytes.inside(ico.length, offset, size) || offset < 6 + (long) ICO_ENTRY * count) {
                throw new NotIcon("icon file is damaged: image " + (i + 1) + " lies outside the file");
            }
            spans.add(new long[] {offset, offset + size});
            total += size;
            int o = (int) offset;
            boolean png = (ico[o] & 0xFF) == 0x89 && ico[o + 1] == 'P' && ico[o + 2] == 'N';
            if (!png && Bytes.u32(ico, o) != 40) {
                throw new NotIcon("icon file is damaged: image " + (i + 1) + " is neither PNG nor DIB");
            }
        }
        if (total > MAX_BYTES) {
            throw new NotIcon("icon images take " + total + " bytes; at most " + MAX_BYTES + " are taken");
        }
        Collections.sort(spans, (a, b) -> a[0] != b[0] ? Long.compare(a[0], b[0]) : Long.compare(a[1], b[1]));
        for (int i = 1; i < spans.size(); ++i) {
            if (spans.get(i)[0] < spans.get(i - 1)[1]) {
                throw new NotIcon("icon file is damaged: two images share the bytes at offset " + spans.get(i)[0]);
            }
        }
        // The old group's images go; ids still used by other groups stay taken.
        TreeMap<ResourceTree.Key, TreeMap<Long, ResourceTree.Data>> icons = tree.type(ResourceTree.RT_ICON);
        ResourceTree.Data old = tree.find(ResourceTree.RT_GROUP_ICON, 1);
        if (old != null) {
            byte[] g = old.bytes;
            for (long e = 6; g.length >= 6 && e + GROUP_ENTRY <= g.length
                    && e < 6 + (long) GROUP_ENTRY * Bytes.u16(g, 4); e += GROUP_ENTRY) {
                icons.remove(ResourceTree.Key.of(Bytes.u16(g, e + 12)));
            }
        }
        Bytes group = new Bytes();
        group.resize(6);
        group.put16(2, 1);
        group.put16(4, count);
        long nextId = 1;
        for (int i = 0; i < count; ++i) {
            while (icons.containsKey(ResourceTree.Key.of(nextId))) ++nextId;
            int e = 6 + ICO_ENTRY * i;
            int size = (int) Bytes.u32(ico, e + 8);
            int offset = (int) Bytes.u32(ico, e + 12);
            byte[] image = new byte[size];
            System.arraycopy(ico, offset, image, 0, size);
            TreeMap<Long, ResourceTree.Data> langs = new TreeMap<Long, ResourceTree.Data>();
            langs.put(ResourceTree.LANG_EN_US, new ResourceTree.Data(image, 0));
            icons.put(ResourceTree.Key.of(nextId), langs);
            group.add(ico, e, 12);
            group.add((int) nextId);
            group.add((int) (nextId >> 8));
            ++nextId;
        }
        tree.set(ResourceTree.RT_GROUP_ICON, 1, group.toArray());
    }

    /** "WxH" of every image of icon group 1, in group order; empty when absent. */
    static List<String> sizes(ResourceTree tree) {
        List<String> sizes = new ArrayList<String>();
        ResourceTree.Data group = tree.find(ResourceTree.RT_GROUP_ICON, 1);
        if (group == null || group.bytes.length < 6) return sizes;
        byte[] g = group.bytes;
        int count = Bytes.u16(g, 4);
        for (int i = 0; i < count && 6 + GROUP_ENTRY * (i + 1) <= g.length; ++i) {
            int w = g[6 + GROUP_ENTRY * i] & 0xFF;
            int h = g[6 + GROUP_ENTRY * i + 1] & 0xFF;
            sizes.add((w != 0 ? w : 256) + "x" + (h != 0 ? h : 256));
        }
        return sizes;
    }
}
