package qlxtest;

import java.lang.management.ManagementFactory;
import java.util.List;

// Java-side observers for the glue tests.
public class Probe {
    public static class LongHandle { public long h; }
    public static class IntHandle { public int h; }
    public static class NoHandle { public long handle; }
    public static class ObjectHandle { public Object h; }

    public static String inputArguments() {
        List<String> list = ManagementFactory.getRuntimeMXBean().getInputArguments();
        StringBuilder b = new StringBuilder();
        for (String s : list) {
            b.append(s).append('\n');
        }
        return b.toString();
    }

    public static boolean contextLoaderIs(ClassLoader expected) {
        return Thread.currentThread().getContextClassLoader() == expected;
    }

    public static void write(com.tarnwick.qlx.RedirOutputStream out, int[] values) throws java.io.IOException {
        for (int v : values) {
            out.write(v);
        }
    }

    public static String units(String s) {
        StringBuilder b = new StringBuilder();
        for (int i = 0; i < s.length(); i++) {
            b.append(Integer.toHexString(s.charAt(i))).append(' ');
        }
        return b.toString().trim();
    }
}
