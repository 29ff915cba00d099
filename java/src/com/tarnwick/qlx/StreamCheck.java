package com.tarnwick.qlx;

import java.io.IOException;
import java.io.StreamCorruptedException;
import java.lang.reflect.Field;
import java.lang.reflect.Modifier;
import java.util.Hashtable;

/**
 * Walks a received serialisation stream before any object of it is made, and
 * refuses what would take the receiver down: arrays that claim more elements
 * than the message could hold, nesting past the depth limit, more references
 * than allowed, and object graphs whose shared parts are reached so often
 * that walking them (as hashCode does while hashed collections are read)
 * would never end. The walk follows the stream's own descriptors, the way
 * every reader must, so it needs no VM support and holds where the VM has no
 * input filter of its own. What it cannot follow it refuses.
 *
 * A class that reads its data itself (a readObject method) is held to the
 * fields it declares: a descriptor that claims other fields would make that
 * reader see the bytes differently from this walk.
 */
final class StreamCheck {
    /** Times per byte of the message that the graph may reach its objects. */
    static final int REACH_PER_BYTE = 16;
    static final int REACH_FLOOR = 4096;

    private static final int BASE_HANDLE = 0x7e0000;
    private static final int SC_WRITE_METHOD = 0x01;
    private static final int SC_SERIALIZABLE = 0x02;
    private static final int SC_EXTERNALIZABLE = 0x04;
    private static final int SC_BLOCK_DATA = 0x08;
    private static final int SC_ENUM = 0x10;

    private static final int KIND_STRING = 1, KIND_DESC = 2, KIND_OBJECT = 3, KIND_OTHER = 4;
    private static final long IN_PROGRESS = -1;
    private static final long SATURATED = 1L << 60;
    // Superclasses and annotations nest descriptors; no real hierarchy comes near.
    private static final int MAX_DESC_NESTING = 64;

    // Collections whose readObject sizes what it allocates by a count at
    // the start of its own data: the offset of each count in that data.
    private static final String[] COUNTED = {
        "java.util.ArrayList", "0", "java.util.HashMap", "4", "java.util.HashSet", "8",
        "java.util.Hashtable", "4", "java.util.IdentityHashMap", "0", "java.util.ArrayDeque", "0",
        "java.util.PriorityQueue", "0", "java.util.TreeMap", "0", "java.util.LinkedList", "0"};

    /** One class descriptor of the stream. */
    static final class Desc {
        String name;
        int flags;
        boolean proxy;
        int primitiveBytes;
        int objectFields;
        String[] fieldNames;
        char[] fieldTypes;
        int superHandle = -1;
        boolean checked;
    }

    private final byte[] data;
    private final int end;
    private int pos;
    private final long maxDepth, maxRefs, maxArray, maxReach;
    private final ClassLoader loader;
    private final Hashtable plainClasses;
    private int depth;
    private int descNesting;
    private long refs;
    private int handles;
    private int[] kinds = new int[32];
    private long[] reach = new long[32];
    private Object[] descs = new Object[32];

    private StreamCheck(byte[] data, long[] limits, ClassLoader loader, Hashtable plainClasses) {
        this.data = data;
        this.end = data.length;
        this.maxDepth = limits[0];
        this.maxRefs = limits[1];
        this.maxArray = limits[2];
        this.maxReach = (long) REACH_PER_BYTE * data.length + REACH_FLOOR;
        this.loader = loader;
        this.plainClasses = plainClasses;
    }

    /**
     * Refuses the stream with an exception that says why. limits: maxdepth,
     * maxrefs, maxarray, maxbytes. Classes are looked up through loader,
     * without being initialised, only where a descriptor must be held to its
     * class's fields; plainClasses keeps the names of those that need not be.
     */
    static void check(byte[] data, long[] limits, ClassLoader loader, Hashtable plainClasses)
            throws Exception {
        if (data.length > limits[3]) {
            throw new IOException("a " + data.length + "-byte message exceeds maxbytes=" + limits[3]);
        }
        new StreamCheck(data, limits, loader, plainClasses).walk();
    }

    private void walk() throws Exception {
        if (u2() != 0xACED || u2() != 5) {
            throw new StreamCorruptedException("not a serialisation stream");
        }
        while (peek() == 0x79) {  // resets before the object: a fresh handle table
            pos++;
            handles = 0;
        }
        content();
    }

    // --- Reading ------------------------------------------------------------

    private int peek() throws StreamCorruptedException {
        if (pos >= end) {
            throw new StreamCorruptedException("the message ends inside its object");
        }
        return data[pos] & 0xff;
    }

    private int u1() throws StreamCorruptedException {
        int value = peek();
        pos++;
        return value;
    }

    private int u2() throws StreamCorruptedException {
        return (u1() << 8) | u1();
    }

    private int s4() throws StreamCorruptedException {
        return (u2() << 16) | u2();
    }

    private long s8() throws StreamCorruptedException {
        return ((long) s4() << 32) | (s4() & 0xffffffffL);
    }

    private void skip(long count) throws StreamCorruptedException {
        if (count < 0 || count > end - pos) {
            throw new StreamCorruptedException("the message ends inside its object");
        }
        pos += (int) count;
    }

    /** Modified UTF-8 with its two-byte length, as class and field names come. */
    private String utf() throws StreamCorruptedException {
        int length = u2();
        int stop = pos + length;
        if (stop > end) {
            throw new StreamCorruptedException("the message ends inside a name");
        }
        char[] chars = new char[length];
        int count = 0;
        while (pos < stop) {
            int a = data[pos++] & 0xff;
            if (a < 0x80) {
                chars[count++] = (char) a;
            } else if ((a & 0xe0) == 0xc0 && pos < stop && (data[pos] & 0xc0) == 0x80) {
                chars[count++] = (char) (((a & 0x1f) << 6) | (data[pos++] & 0x3f));
            } else if ((a & 0xf0) == 0xe0 && pos + 1 < stop && (data[pos] & 0xc0) == 0x80
                    && (data[pos + 1] & 0xc0) == 0x80) {
                chars[count++] = (char) (((a & 0x0f) << 12) | ((data[pos] & 0x3f) << 6) | (data[pos + 1] & 0x3f));
                pos += 2;
            } else {
                throw new StreamCorruptedException("a malformed name");
            }
        }
        return new String(chars, 0, count);
    }

    private int assign(int kind, Object desc) {
        if (handles == kinds.length) {
            int[] k = new int[handles * 2];
            long[] r = new long[handles * 2];
            Object[] d = new Object[handles * 2];
            System.arraycopy(kinds, 0, k, 0, handles);
            System.arraycopy(reach, 0, r, 0, handles);
            System.arraycopy(descs, 0, d, 0, handles);
            kinds = k;
            reach = r;
            descs = d;
        }
        kinds[handles] = kind;
        reach[handles] = kind == KIND_OBJECT ? IN_PROGRESS : 1;
        descs[handles] = desc;
        return handles++;
    }

    private int handle() throws StreamCorruptedException {
        int index = s4() - BASE_HANDLE;
        if (index < 0 || index >= handles) {
            throw new StreamCorruptedException("a reference to nothing");
        }
        return index;
    }

    private static long add(long a, long b) {
        long sum = a + b;
        return sum > SATURATED ? SATURATED : sum;
    }

    // --- Contents -------------------------------------------------------------

    /** One object of the stream; returns how many objects walking it reaches. */
    private long content() throws Exception {
        int tc = peek();
        if (tc == 0x70) {  // null
            pos++;
            return 0;
        }
        if (++depth > maxDepth) {
            throw new IOException("objects nested deeper than maxdepth=" + maxDepth);
        }
        if (++refs > maxRefs) {
            throw new IOException("more than maxrefs=" + maxRefs + " references");
        }
        long result;
        switch (tc) {
            case 0x71: {  // a reference to an earlier one
                pos++;
                int index = handle();
                result = reach[index] == IN_PROGRESS ? 1 : reach[index];
                break;
            }
            case 0x74:  // string
                pos++;
                skip(u2());
                assign(KIND_STRING, null);
                result = 1;
                break;
            case 0x7c:  // long string
                pos++;
                skip(s8());
                assign(KIND_STRING, null);
                result = 1;
                break;
            case 0x76:  // class
                pos++;
                classDesc(false);
                assign(KIND_OTHER, null);
                result = 1;
                break;
            case 0x72:
            case 0x7d:  // a class descriptor read as an object
                classDesc(false);
                result = 1;
                break;
            case 0x75:
                pos++;
                result = array();
                break;
            case 0x7e:  // enum constant: its class, then its name
                pos++;
                classDesc(false);
                assign(KIND_OTHER, null);
                if (peek() != 0x74 && peek() != 0x7c) {
                    throw new StreamCorruptedException("an enum constant without its name");
                }
                content();
                result = 1;
                break;
            case 0x73:
                pos++;
                result = object();
                break;
            default:
                throw new StreamCorruptedException("unexpected content 0x" + Integer.toHexString(tc));
        }
        depth--;
        if (result > maxReach) {
            throw new IOException("the objects reach shared objects more than " + maxReach
                    + " times (" + REACH_PER_BYTE + " per byte of the message): nested hashed collections?");
        }
        return result;
    }

    private long array() throws Exception {
        Desc desc = descAt(classDesc(false));
        if (desc == null || desc.name.length() < 2 || desc.name.charAt(0) != '[') {
            throw new StreamCorruptedException("an array of a class that is not an array");
        }
        int length = s4();
        int index = assign(KIND_OBJECT, null);
        char element = desc.name.charAt(1);
        int size = primitiveSize(element);
        if (length < 0 || length > maxArray) {
            throw new IOException("array length " + length + " exceeds maxarray=" + maxArray);
        }
        // Every element takes at least its own bytes (an object at least one).
        if ((long) length * (size > 0 ? size : 1) > end - pos) {
            throw new IOException("array length " + length + " of " + desc.name
                    + " exceeds what the " + end + "-byte message holds");
        }
        long total = 1;
        if (size > 0) {
            skip((long) length * size);
        } else if (element == 'L' || element == '[') {
            for (int i = 0; i < length; i++) {
                total = add(total, content());
            }
        } else {
            throw new StreamCorruptedException("an array of unknown type " + desc.name);
        }
        reach[index] = total;
        return total;
    }

    private long object() throws Exception {
        int descHandle = classDesc(false);
        Desc leaf = descAt(descHandle);
        if (leaf == null || leaf.proxy && leaf.superHandle < 0 || leaf.name.startsWith("[")
                || (leaf.flags & SC_ENUM) != 0) {
            throw new StreamCorruptedException("an object of a class that cannot have one");
        }
        int index = assign(KIND_OBJECT, null);
        long total = 1;
        if ((leaf.flags & SC_EXTERNALIZABLE) != 0) {
            if ((leaf.flags & SC_BLOCK_DATA) == 0) {
                throw new StreamCorruptedException("externalizable data of the old protocol");
            }
            total = add(total, customData(null));
        } else {
            // Superclasses first, as the data is written.
            Desc[] chain = new Desc[8];
            int count = 0;
            for (Desc d = leaf; d != null; d = descAt(d.superHandle)) {
                for (int i = 0; i < count; i++) {
                    if (chain[i] == d) {
                        throw new StreamCorruptedException("a class that is its own superclass");
                    }
                }
                if (count == chain.length) {
                    Desc[] longer = new Desc[count * 2];
                    System.arraycopy(chain, 0, longer, 0, count);
                    chain = longer;
                }
                chain[count++] = d;
            }
            for (int i = count - 1; i >= 0; i--) {
                Desc slice = chain[i];
                if (slice.proxy) {
                    continue;  // a proxy class has no data of its own
                }
                if ((slice.flags & SC_SERIALIZABLE) == 0) {
                    throw new StreamCorruptedException("data of a class that is not serializable: " + slice.name);
                }
                holdToFields(slice);
                skip(slice.primitiveBytes);
                for (int f = 0; f < slice.objectFields; f++) {
                    total = add(total, content());
                }
                if ((slice.flags & SC_WRITE_METHOD) != 0) {
                    total = add(total, customData(slice.name));
                }
            }
        }
        reach[index] = total;
        return total;
    }

    /** Block data and objects up to the end mark; counts the start of its data for some classes. */
    private long customData(String owner) throws Exception {
        int countAt = countOffset(owner);
        long total = 0;
        int blockBytes = 0;
        for (;;) {
            int tc = peek();
            if (tc == 0x77 || tc == 0x7a) {
                pos++;
                int length = tc == 0x77 ? u1() : s4();
                if (countAt >= 0 && blockBytes <= countAt && countAt + 4 <= blockBytes + length
                        && countAt - blockBytes + 4 <= end - pos) {
                    int at = pos + countAt - blockBytes;
                    int value = ((data[at] & 0xff) << 24) | ((data[at + 1] & 0xff) << 16)
                            | ((data[at + 2] & 0xff) << 8) | (data[at + 3] & 0xff);
                    if (value < 0 || value > end + 1024) {
                        throw new IOException(owner + " claims " + value
                                + " elements in a " + end + "-byte message");
                    }
                }
                blockBytes += length;
                skip(length);
            } else if (tc == 0x78) {
                pos++;
                return total;
            } else {
                countAt = -1;  // the counts come before any object
                total = add(total, content());
            }
        }
    }

    private static int countOffset(String owner) {
        if (owner == null) {
            return -1;
        }
        for (int i = 0; i < COUNTED.length; i += 2) {
            if (COUNTED[i].equals(owner)) {
                return Integer.parseInt(COUNTED[i + 1]);
            }
        }
        return -1;
    }

    // --- Class descriptors ------------------------------------------------------

    private Desc descAt(int handle) {
        return handle < 0 ? null : (Desc) descs[handle];
    }

    /** A class descriptor, new or referred to; its handle, or -1 for none. */
    private int classDesc(boolean allowNull) throws Exception {
        int tc = u1();
        if (tc == 0x70) {
            if (!allowNull) {
                throw new StreamCorruptedException("a missing class descriptor");
            }
            return -1;
        }
        if (tc == 0x71) {
            int index = handle();
            if (kinds[index] != KIND_DESC) {
                throw new StreamCorruptedException("a class descriptor that refers to something else");
            }
            return index;
        }
        if (tc != 0x72 && tc != 0x7d) {
            throw new StreamCorruptedException("unexpected class descriptor 0x" + Integer.toHexString(tc));
        }
        if (++descNesting > MAX_DESC_NESTING) {
            throw new StreamCorruptedException("class descriptors nested deeper than " + MAX_DESC_NESTING);
        }
        Desc desc = new Desc();
        int index = assign(KIND_DESC, desc);
        if (tc == 0x7d) {
            desc.proxy = true;
            desc.name = "";
            int interfaces = s4();
            if (interfaces < 0 || interfaces > 65535) {
                throw new StreamCorruptedException("a proxy class with " + interfaces + " interfaces");
            }
            for (int i = 0; i < interfaces; i++) {
                utf();
            }
        } else {
            desc.name = utf();
            if (desc.name.length() == 0) {
                throw new StreamCorruptedException("a class without a name");
            }
            skip(8);  // serialVersionUID
            desc.flags = u1();
            fields(desc);
        }
        customData(null);  // the class annotation
        desc.superHandle = classDesc(true);
        descNesting--;
        return index;
    }

    private void fields(Desc desc) throws Exception {
        int flags = desc.flags;
        if ((flags & SC_SERIALIZABLE) != 0 && (flags & SC_EXTERNALIZABLE) != 0) {
            throw new StreamCorruptedException("a class both serializable and externalizable: " + desc.name);
        }
        int count = (short) u2();
        if (count < 0 || (flags & SC_ENUM) != 0 && count != 0) {
            throw new StreamCorruptedException("a bad field count in " + desc.name);
        }
        desc.fieldNames = new String[count];
        desc.fieldTypes = new char[count];
        for (int i = 0; i < count; i++) {
            char type = (char) u1();
            desc.fieldTypes[i] = type;
            desc.fieldNames[i] = utf();
            int size = primitiveSize(type);
            if (size > 0) {
                if (desc.objectFields > 0) {
                    throw new StreamCorruptedException("a primitive field after object fields in " + desc.name);
                }
                desc.primitiveBytes += size;
            } else if (type == 'L' || type == '[') {
                desc.objectFields++;
                typeName();
            } else {
                throw new StreamCorruptedException("a field of unknown type in " + desc.name);
            }
        }
    }

    /** The type of an object field: a new string or a reference to one. */
    private void typeName() throws StreamCorruptedException {
        int tc = u1();
        if (tc == 0x74) {
            skip(u2());
            assign(KIND_STRING, null);
        } else if (tc == 0x7c) {
            skip(s8());
            assign(KIND_STRING, null);
        } else if (tc == 0x71) {
            if (kinds[handle()] != KIND_STRING) {
                throw new StreamCorruptedException("a field type that is not a string");
            }
        } else {
            throw new StreamCorruptedException("a field without its type");
        }
    }

    private static int primitiveSize(char type) {
        switch (type) {
            case 'B':
            case 'Z':
                return 1;
            case 'C':
            case 'S':
                return 2;
            case 'I':
            case 'F':
                return 4;
            case 'J':
            case 'D':
                return 8;
            default:
                return 0;
        }
    }

    /**
     * A class with a readObject method of its own reads what it wrote, not
     * what the descriptor says: the descriptor may claim only fields the
     * class has, so that the data is laid out the way this walk reads it.
     */
    private void holdToFields(Desc desc) throws Exception {
        if (desc.checked || desc.fieldNames.length == 0 || plainClasses.containsKey(desc.name)) {
            return;
        }
        desc.checked = true;
        // Loaded, not linked through the filter: some VMs resolve a class's
        // field types through the loader that Class.forName is given.
        Class cls = loader.loadClass(desc.name);
        Class stream = Class.forName("java.io.ObjectInputStream");
        try {
            cls.getDeclaredMethod("readObject", new Class[] {stream});
        } catch (NoSuchMethodException e) {
            plainClasses.put(desc.name, desc.name);  // read field by field from the descriptor
            return;
        }
        try {
            cls.getDeclaredField("serialPersistentFields");
            plainClasses.put(desc.name, desc.name);  // fields of its own naming
            return;
        } catch (NoSuchFieldException e) {
            // the declared fields are its serial fields
        }
        for (int i = 0; i < desc.fieldNames.length; i++) {
            Field field;
            try {
                field = cls.getDeclaredField(desc.fieldNames[i]);
            } catch (NoSuchFieldException e) {
                field = null;
            }
            int modifiers = field != null ? field.getModifiers() : Modifier.STATIC;
            Class type = field != null ? field.getType() : null;
            boolean same = (modifiers & (Modifier.STATIC | Modifier.TRANSIENT)) == 0
                    && typeCode(type) == desc.fieldTypes[i];
            if (!same) {
                throw new IOException(desc.name + " has no serial field "
                        + desc.fieldNames[i] + " of the type the message claims");
            }
        }
    }

    private static char typeCode(Class type) {
        if (type.isArray()) {
            return '[';
        }
        if (!type.isPrimitive()) {
            return 'L';
        }
        String name = type.getName();
        return name.equals("boolean") ? 'Z' : name.equals("long") ? 'J' : Character.toUpperCase(name.charAt(0));
    }
}
