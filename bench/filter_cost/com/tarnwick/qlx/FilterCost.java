package com.tarnwick.qlx;

import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.ObjectOutputStream;
import java.io.Serializable;

/**
 * What reading a received object through the instance filter costs beside
 * reading it with the plain stream the receiver used before: the same
 * streams decoded both ways, alternating, in one VM. Prints, per payload,
 * "NAME plain_us filtered_us" (microseconds per decode, best of the passes).
 */
public class FilterCost {
    static byte[] stream(Serializable value) throws Exception {
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        ObjectOutputStream out = new ObjectOutputStream(bytes);
        out.writeObject(value);
        out.close();
        return bytes.toByteArray();
    }

    public static void main(String[] args) throws Exception {
        char[] text = new char[1000];
        java.util.Arrays.fill(text, 'x');
        Object[][] payloads = {
            {"1KB-string", stream(new String(text))},
            {"reply-integer", stream(new Integer(1048541))},
            {"1MB-bytes", stream(new byte[1 << 20])},
        };
        ClassLoader loader = FilterCost.class.getClassLoader();
        InstanceFilter filter = new InstanceFilter(loader, "java.lang.String;java.lang.Integer;java.lang.Number;java.util.*;!*");
        for (int p = 0; p < payloads.length; p++) {
            byte[] data = (byte[]) payloads[p][1];
            int count = data.length > 100000 ? 200 : 20000;
            long plain = Long.MAX_VALUE, filtered = Long.MAX_VALUE;
            for (int pass = 0; pass < 7; pass++) {
                long start = System.nanoTime();
                for (int i = 0; i < count; i++) {
                    new ClassLoaderObjectInputStream(new ByteArrayInputStream(data), loader).readObject();
                }
                plain = Math.min(plain, System.nanoTime() - start);
                start = System.nanoTime();
                for (int i = 0; i < count; i++) {
                    filter.read(data);
                }
                filtered = Math.min(filtered, System.nanoTime() - start);
            }
            System.out.println(payloads[p][0] + " " + plain / 1000.0 / count + " " + filtered / 1000.0 / count);
        }
    }
}
