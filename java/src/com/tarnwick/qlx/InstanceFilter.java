package com.tarnwick.qlx;

import java.io.ByteArrayInputStream;
import java.io.ObjectInputStream;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.Hashtable;

/**
 * What an instance accepts from another process. Any process of the same
 * user can write into the instance table, so a received stream is read only
 * through this loader: it resolves the classes its patterns admit and
 * refuses every other one before the class is even loaded, so no constructor,
 * static initialiser or readObject of a refused class ever runs.
 *
 * The filter, one grammar shared with the generator's check:
 *   filter  = element { ";" element }      blanks around an element are dropped,
 *                                          empty elements skipped
 *   element = limit | pattern
 *   limit   = ("maxdepth" | "maxrefs" | "maxarray" | "maxbytes") "=" 1 to 18 digits
 *   pattern = ["!"] ( "*" | name | name "*" | name ".*" | name ".**" )
 *   name    = part { "." part }, a part being letters, digits, "_", "$" or
 *             characters beyond ASCII
 * and at least one pattern. The first pattern that matches decides: "a.B"
 * one class, "a.*" the classes of a package, "a.**" of a package and its
 * subpackages, "prefix*" names that begin so, "*" any class, "!" in front
 * refuses. A class that no pattern matches is refused; arrays are judged by
 * their element type, arrays of primitives are always admitted. The limits
 * not given have their defaults.
 *
 * Before the stream is read, StreamCheck walks it with the limits, on every
 * VM; where the VM has the JDK's input filter, it enforces them too while
 * the stream is read. The stream is read with this loader as the thread's
 * context loader, since some VMs resolve stream classes through that loader
 * alone.
 */
class InstanceFilter extends ClassLoader {
    static final String DEFAULT_LIMITS = "maxdepth=20;maxrefs=100000;maxarray=67108864;maxbytes=67108872";
    private static final String[] LIMIT_KEYS = {"maxdepth", "maxrefs", "maxarray", "maxbytes"};

    private String[] patterns;
    ClassLoader target;
    private long[] limits;
    // The JDK's filter factory and the call that sets a filter on a stream
    // (an instance method from JDK 9, static in 8); null without them.
    private Method createFilter;
    private Method setFilter;
    private Object[] limitFilters = new Object[32];
    // Names of classes whose data the walk reads from the descriptor alone
    // (no readObject of their own): they need no second look.
    private Hashtable plainClasses = new Hashtable();

    InstanceFilter(ClassLoader target, String filter) throws ClassNotFoundException {
        super(target);
        this.target = target != null ? target : ClassLoader.getSystemClassLoader();
        patterns = split(filter);
        limits = limitsOf(patterns);
        findLimitFilter();
    }

    protected Class loadClass(String name, boolean resolve) throws ClassNotFoundException {
        if (!admits(name)) {
            throw new ClassNotFoundException(name + " is not accepted from other instances");
        }
        try {
            return target.loadClass(name);
        } catch (ClassNotFoundException e) {
            if (!name.startsWith("[")) {
                throw e;
            }
            return Class.forName(name, false, target);  // loaders need not know array classes
        }
    }

    /** Reads one object of a received stream. */
    Object read(byte[] data) throws Exception {
        StreamCheck.check(data, limits, this, plainClasses);
        // Made before this loader becomes the context loader: a VM that links
        // through that loader must find the stream's own classes.
        ObjectInputStream stream = new ClassLoaderObjectInputStream(new ByteArrayInputStream(data), this);
        if (setFilter != null) {
            Object filter = limitFilter(data.length);
            if (Modifier.isStatic(setFilter.getModifiers())) {
                setFilter.invoke(null, new Object[] {stream, filter});
            } else {
                setFilter.invoke(stream, new Object[] {filter});
            }
        }
        Thread thread = Thread.currentThread();
        ClassLoader previous = thread.getContextClassLoader();
        thread.setContextClassLoader(this);
        try {
            return stream.readObject();
        } finally {
            thread.setContextClassLoader(previous);
        }
    }

    /**
     * The JDK's filter for a message of this size: no array may have more
     * elements than the power of two at or above its size (the walk holds
     * it to the bytes themselves). One per power of two, made once.
     */
    private synchronized Object limitFilter(int size) throws Exception {
        int power = 0;
        while (power < 31 && (1 << power) < size) {
            power++;
        }
        if (limitFilters[power] == null) {
            long array = Math.min(limits[2], 1L << power);
            limitFilters[power] = createFilter.invoke(null, new Object[] {"maxdepth=" + limits[0]
                    + ";maxrefs=" + limits[1] + ";maxarray=" + array + ";maxbytes=" + limits[3]});
        }
        return limitFilters[power];
    }

    boolean admits(String name) {
        String element = name;
        while (element.startsWith("[")) {
            element = element.substring(1);
        }
        if (element.length() != name.length()) {
            if (element.length() == 1) {
                return true;  // an array of a primitive type
            }
            if (!element.startsWith("L") || !element.endsWith(";")) {
                return false;
            }
            element = element.substring(1, element.length() - 1);
        }
        for (int i = 0; i < patterns.length; i++) {
            String pattern = patterns[i];
            if (pattern.indexOf('=') >= 0) {
                continue;
            }
            boolean refuse = pattern.startsWith("!");
            if (matches(refuse ? pattern.substring(1) : pattern, element)) {
                return !refuse;
            }
        }
        return false;
    }

    static boolean matches(String pattern, String name) {
        if (pattern.equals("*")) {
            return true;
        }
        if (pattern.endsWith(".**")) {
            return name.startsWith(pattern.substring(0, pattern.length() - 2));
        }
        if (pattern.endsWith(".*")) {
            String prefix = pattern.substring(0, pattern.length() - 1);
            return name.startsWith(prefix) && name.indexOf('.', prefix.length()) < 0;
        }
        if (pattern.endsWith("*")) {
            return name.startsWith(pattern.substring(0, pattern.length() - 1));
        }
        return name.equals(pattern);
    }

    static String[] split(String filter) throws ClassNotFoundException {
        String[] parts = new String[filter.length() / 2 + 1];
        int count = 0;
        int start = 0;
        boolean classes = false;
        while (start <= filter.length()) {
            int end = filter.indexOf(';', start);
            if (end < 0) {
                end = filter.length();
            }
            String part = filter.substring(start, end).trim();
            if (part.length() > 0) {
                check(part);
                classes |= part.indexOf('=') < 0;
                parts[count++] = part;
            }
            start = end + 1;
        }
        if (!classes) {
            throw new ClassNotFoundException("instancefilter: no class pattern");
        }
        String[] result = new String[count];
        System.arraycopy(parts, 0, result, 0, count);
        return result;
    }

    static void check(String pattern) throws ClassNotFoundException {
        int equals = pattern.indexOf('=');
        if (equals >= 0) {
            String key = pattern.substring(0, equals);
            boolean known = false;
            for (int i = 0; i < LIMIT_KEYS.length; i++) {
                known |= key.equals(LIMIT_KEYS[i]);
            }
            int digits = pattern.length() - equals - 1;
            boolean number = digits > 0 && digits <= 18;
            for (int i = equals + 1; i < pattern.length(); i++) {
                number &= pattern.charAt(i) >= '0' && pattern.charAt(i) <= '9';
            }
            if (!known || !number) {
                throw new ClassNotFoundException("instancefilter: bad limit " + pattern);
            }
            return;
        }
        String body = pattern.startsWith("!") ? pattern.substring(1) : pattern;
        String name = body;
        if (body.endsWith(".**")) {
            name = body.substring(0, body.length() - 3);
        } else if (body.endsWith(".*")) {
            name = body.substring(0, body.length() - 2);
        } else if (body.endsWith("*")) {
            name = body.substring(0, body.length() - 1);
        }
        if (!body.equals("*") && !isName(name)) {
            throw new ClassNotFoundException("instancefilter: bad pattern " + pattern);
        }
    }

    private static boolean isName(String name) {
        boolean partStart = true;
        for (int i = 0; i < name.length(); i++) {
            char c = name.charAt(i);
            if (c == '.') {
                if (partStart) {
                    return false;
                }
                partStart = true;
                continue;
            }
            boolean word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
                    || c == '_' || c == '$' || c >= 0x80;
            if (!word) {
                return false;
            }
            partStart = false;
        }
        return !partStart;
    }

    /** maxdepth, maxrefs, maxarray, maxbytes: the last given, else the default. */
    static long[] limitsOf(String[] patterns) {
        long[] result = new long[LIMIT_KEYS.length];
        String all = DEFAULT_LIMITS;
        for (int i = 0; i < patterns.length; i++) {
            if (patterns[i].indexOf('=') >= 0) {
                all = all + ";" + patterns[i];
            }
        }
        int start = 0;
        while (start < all.length()) {
            int stop = all.indexOf(';', start);
            if (stop < 0) {
                stop = all.length();
            }
            String limit = all.substring(start, stop);
            int equals = limit.indexOf('=');
            for (int k = 0; k < LIMIT_KEYS.length; k++) {
                if (limit.substring(0, equals).equals(LIMIT_KEYS[k])) {
                    result[k] = Long.parseLong(limit.substring(equals + 1));
                }
            }
            start = stop + 1;
        }
        return result;
    }

    /**
     * The JDK's filter: java.io.ObjectInputFilter from JDK 9,
     * sun.misc.ObjectInputFilter in late updates of 8. Reached by reflection,
     * so this class loads on VMs that have neither; there StreamCheck alone
     * holds the limits.
     */
    private void findLimitFilter() {
        String[][] kinds = {
            {"java.io.ObjectInputFilter", "java.io.ObjectInputFilter$Config", "java.io.ObjectInputStream"},
            {"sun.misc.ObjectInputFilter", "sun.misc.ObjectInputFilter$Config", "sun.misc.ObjectInputFilter$Config"}};
        for (int i = 0; i < kinds.length && setFilter == null; i++) {
            try {
                Class string = Class.forName("java.lang.String");
                Class filterType = Class.forName(kinds[i][0]);
                Class config = Class.forName(kinds[i][1]);
                createFilter = config.getMethod("createFilter", new Class[] {string});
                setFilter = i == 0
                        ? Class.forName(kinds[i][2]).getMethod("setObjectInputFilter", new Class[] {filterType})
                        : config.getMethod("setObjectInputFilter",
                                new Class[] {Class.forName("java.io.ObjectInputStream"), filterType});
            } catch (Throwable e) {
                createFilter = null;  // not this kind of VM
                setFilter = null;
            }
        }
    }
}
