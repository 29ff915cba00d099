package com.tarnwick.qlx;

import java.io.ByteArrayOutputStream;
import java.io.FileInputStream;
import java.io.InputStream;

/**
 * Reads received streams through the instance filter: each argument
 * "FILTER|FILE" prints "read MS CLASS" or "refused MS REASON" on a line of
 * its own (MS: milliseconds the read took).
 */
public class StreamProbe {
    public static void main(String[] args) throws Exception {
        for (int i = 0; i < args.length; i++) {
            int bar = args[i].lastIndexOf('|');
            byte[] data = bytesOf(args[i].substring(bar + 1));
            long start = System.currentTimeMillis();
            String line;
            try {
                Object value = new InstanceFilter(null, args[i].substring(0, bar)).read(data);
                line = "read " + (System.currentTimeMillis() - start) + " "
                        + (value == null ? "null" : value.getClass().getName());
            } catch (Throwable e) {
                line = "refused " + (System.currentTimeMillis() - start) + " " + e;
            }
            System.out.println(line);
        }
    }

    static byte[] bytesOf(String path) throws Exception {
        InputStream in = new FileInputStream(path);
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        byte[] buffer = new byte[65536];
        for (int n; (n = in.read(buffer)) > 0;) {
            out.write(buffer, 0, n);
        }
        in.close();
        return out.toByteArray();
    }
}
