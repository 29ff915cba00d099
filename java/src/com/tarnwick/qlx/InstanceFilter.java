package com.tarnwick.qlx;

import java.io.ByteArrayInputStream;
import java.io.ObjectInputStream;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;

/**
 * What an instance accepts from another process. Any process of the same
 * user can write into the instance table, so a received stream is read only
 * through this loader: it resolves the classes its patterns admit and
 * refuses every other one before the class is even loaded, so no constructor,
 * static initialiser or readObject of a refused class ever runs.
 *
 * Patterns use the JDK's filter syntax, separated by ';', the first that
 * matches deciding: "a.B" one class, "a.*" the classes of a package, "a.**"
 * of a package and its subpackages, "prefix*" names that begin so, "*" any
 * class, "!" in front refuses. A class that no pattern matches is refused;
 * arrays are judged by their element type, arrays of primitives are always
 * admitted. "maxdepth=", "maxrefs=", "maxarray=" and "maxbytes=" set limits,
 * which the JDK's own input filter enforces where the VM has one; the
 * defaults apply to the limits not given.
 *
 * The stream is read with this loader as the thread's context loader too,
 * since some VMs resolve stream classes through that loader alone.
 */
class InstanceFilter extends ClassLoader {
    static final String DEFAULT_LIMITS = "maxdepth=20;maxrefs=100000;maxarray=67108864;maxbytes=67108872";

    private String[] patterns;
    private ClassLoader target;
    // The JDK's filter for the limits and the call that sets it on a stream
    // (an instance method from JDK 9, static in 8); null without one.
    private Object limitFilter;
    private Method setFilter;

    InstanceFilter(ClassLoader target, String filter) throws ClassNotFoundException {
        super(target);
        this.target = target != null ? target : ClassLoader.getSystemClassLoader();
        patterns = split(filter);
        findLimitFilter(limitsOf(patterns));
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
        Thread thread = Thread.currentThread();
        ClassLoader previous = thread.getContextClassLoader();
        thread.setContextClassLoader(this);
        try {
            ObjectInputStream stream = new ClassLoaderObjectInputStream(new ByteArrayInputStream(data), this);
            if (setFilter != null) {
                if (Modifier.isStatic(setFilter.getModifiers())) {
                    setFilter.invoke(null, new Object[] {stream, limitFilter});
                } else {
                    setFilter.invoke(stream, new Object[] {limitFilter});
                }
            }
            return stream.readObject();
        } finally {
            thread.setContextClassLoader(previous);
        }
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
        while (start <= filter.length()) {
            int end = filter.indexOf(';', start);
            if (end < 0) {
                end = filter.length();
            }
            String part = filter.substring(start, end).trim();
            if (part.length() > 0) {
                check(part);
                parts[count++] = part;
            }
            start = end + 1;
        }
        String[] result = new String[count];
        System.arraycopy(parts, 0, result, 0, count);
        return result;
    }

    static void check(String pattern) throws ClassNotFoundException {
        int equals = pattern.indexOf('=');
        if (equals >= 0) {
            String key = pattern.substring(0, equals);
            boolean known = key.equals("maxdepth") || key.equals("maxrefs") || key.equals("maxarray")
                    || key.equals("maxbytes");
            boolean number = equals + 1 < pattern.length();
            for (int i = equals + 1; i < pattern.length(); i++) {
                number &= pattern.charAt(i) >= '0' && pattern.charAt(i) <= '9';
            }
            if (!known || !number || pattern.length() - equals > 19) {
                throw new ClassNotFoundException("instancefilter: bad limit " + pattern);
            }
            return;
        }
        String body = pattern.startsWith("!") ? pattern.substring(1) : pattern;
        int star = body.indexOf('*');
        boolean ok = body.length() > 0
                && (star < 0 || star == body.length() - 1
                    || (body.endsWith(".**") && star == body.length() - 2));
        if (!ok) {
            throw new ClassNotFoundException("instancefilter: bad pattern " + pattern);
        }
    }

    /** The given limits, then the default of each limit not given. */
    static String limitsOf(String[] patterns) {
        String given = "";
        for (int i = 0; i < patterns.length; i++) {
            if (patterns[i].indexOf('=') >= 0) {
                given = given + patterns[i] + ";";
            }
        }
        String result = given;
        String rest = DEFAULT_LIMITS + ";";
        while (rest.length() > 0) {
            String limit = rest.substring(0, rest.indexOf(';'));
            rest = rest.substring(rest.indexOf(';') + 1);
            String key = limit.substring(0, limit.indexOf('=') + 1);
            if ((";" + given).indexOf(";" + key) < 0) {
                result = result + limit + ";";
            }
        }
        return result.substring(0, result.length() - 1);
    }

    /**
     * The limits through the JDK's filter: java.io.ObjectInputFilter from
     * JDK 9, sun.misc.ObjectInputFilter in late updates of 8. Reached by
     * reflection, so this class loads on VMs that have neither; there the
     * class check and the message size are the bounds.
     */
    private void findLimitFilter(String limits) {
        String[][] kinds = {
            {"java.io.ObjectInputFilter", "java.io.ObjectInputFilter$Config", "java.io.ObjectInputStream"},
            {"sun.misc.ObjectInputFilter", "sun.misc.ObjectInputFilter$Config", "sun.misc.ObjectInputFilter$Config"}};
        for (int i = 0; i < kinds.length && setFilter == null; i++) {
            try {
                Class string = Class.forName("java.lang.String");
                Class filterType = Class.forName(kinds[i][0]);
                Class config = Class.forName(kinds[i][1]);
                limitFilter = config.getMethod("createFilter", new Class[] {string})
                        .invoke(null, new Object[] {limits});
                setFilter = i == 0
                        ? Class.forName(kinds[i][2]).getMethod("setObjectInputFilter", new Class[] {filterType})
                        : config.getMethod("setObjectInputFilter",
                                new Class[] {Class.forName("java.io.ObjectInputStream"), filterType});
            } catch (Throwable e) {
                limitFilter = null;  // not this kind of VM
            }
        }
    }
}
