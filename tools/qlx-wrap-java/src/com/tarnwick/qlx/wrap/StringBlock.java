// One block of the string table in a PE image's resources (block b holds
// the ids 16(b-1) .. 16(b-1)+15 as 16 counted UTF-16 strings), and the rule
// that a rewritten block keeps within the room the stub reserved for it.
package com.tarnwick.qlx.wrap;

import java.util.Map;

final class StringBlock {
    private StringBlock() {}

    /** The 16 strings, or null when the data is damaged. */
    static String[] decode(byte[] d) {
        String[] strings = new String[16];
        long pos = 0;
        for (int i = 0; i < 16; ++i) {
            if (pos + 2 > d.length) return null;
            int len = Bytes.u16(d, pos);
            pos += 2;
            if (pos + 2L * len > d.length) return null;
            StringBuilder s = new StringBuilder(len);
            for (int k = 0; k < len; ++k, pos += 2) s.append((char) Bytes.u16(d, pos));
            strings[i] = s.toString();
        }
        return strings;
    }

    static Bytes encode(String[] strings) {
        Bytes data = new Bytes();
        for (String s : strings) {
            data.add(s.length());
            data.add(s.length() >> 8);
            for (int i = 0; i < s.length(); ++i) {
                data.add(s.charAt(i));
                data.add(s.charAt(i) >> 8);
            }
        }
        return data;
    }

    /**
     * Replaces strings of one block (index within the block -> text) and
     * keeps the others. The block may not grow: the launcher reads these
     * texts into buffers of the size the stub reserved.
     */
    static void patch(ResourceTree tree, int block, Map<Integer, String> replacements) throws ResourceTree.Damaged {
        ResourceTree.Data old = tree.find(ResourceTree.RT_STRING, block);
        if (old == null) throw new ResourceTree.Damaged("the image has no string table block " + block);
        String[] strings = decode(old.bytes);
        if (strings == null) throw new ResourceTree.Damaged("string table block " + block + " is damaged");
        for (Map.Entry<Integer, String> r : replacements.entrySet()) {
            if (r.getKey() < 0 || r.getKey() > 15 || r.getValue().length() > 0xFFFF) {
                throw new ResourceTree.Damaged("bad string table replacement");
            }
            strings[r.getKey()] = r.getValue();
        }
        Bytes data = encode(strings);
        if (data.size() > old.bytes.length) {
            throw new ResourceTree.Damaged("the texts need " + data.size() + " bytes but the stub's string block "
                    + block + " holds " + old.bytes.length + " (shorten the service texts)");
        }
        // The block keeps its size, so the room stays for whoever patches it next.
        data.resize(old.bytes.length);
        tree.set(ResourceTree.RT_STRING, block, data.toArray());
    }
}
