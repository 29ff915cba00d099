package inst;

import gadget.Gadget;
import java.io.FileOutputStream;
import java.io.ObjectOutputStream;
import java.util.HashSet;
import java.util.Set;

/**
 * Writes the serialisation streams a hostile process sends (run on the host's
 * JVM): "gadget FILE MARKER", a Gadget naming MARKER; "bomb FILE", nested
 * sets whose hash codes take 2^100 steps to compute; "nest FILE DEPTH WIDTH",
 * WIDTH sets on each of DEPTH levels, each holding every set of the level
 * below, so that hashing the top takes WIDTH^DEPTH steps while the stream
 * stays within the depth limit; "proxy FILE", a proxy of gadget.Marker
 * with an inst.Handler; "legit FILE", the kind of object an application
 * sends, every class of it admitted by the default filter.
 */
public class Streams {
    public static void main(String[] args) throws Exception {
        Object value;
        if (args[0].equals("gadget")) {
            Gadget gadget = new Gadget();
            gadget.path = args[2];
            value = gadget;
        } else if (args[0].equals("proxy")) {
            value = java.lang.reflect.Proxy.newProxyInstance(
                    Streams.class.getClassLoader(), new Class[] {gadget.Marker.class}, new Handler());
        } else if (args[0].equals("legit")) {
            java.util.Map<String, Object> map = new java.util.HashMap<String, Object>();
            Note shared = new Note("shared");
            java.util.List<Object> refs = new java.util.ArrayList<Object>();
            for (int i = 0; i < 2000; i++) {
                map.put("key" + i, java.util.Arrays.asList(new Integer[] {Integer.valueOf(i)}));
                refs.add(shared);
            }
            Set<Object> tree = new HashSet<Object>();
            Set<Object> at = tree;
            for (int d = 0; d < 12; d++) {
                Set<Object> below = new HashSet<Object>();
                at.add("level" + d);
                at.add(below);
                at = below;
            }
            java.util.List<Object> all = new java.util.LinkedList<Object>();
            all.add(map);
            all.add(refs);
            all.add(tree);
            all.add(new long[1000]);
            java.util.Map<String, Object> sorted = new java.util.TreeMap<String, Object>();
            sorted.put("t", new java.util.Date(0));
            all.add(sorted);
            all.add(new String[] {"a", "b", null});
            value = all;
        } else if (args[0].equals("nest")) {
            int depth = Integer.parseInt(args[2]);
            int width = Integer.parseInt(args[3]);
            Set<Object>[][] levels = new Set[depth][width];
            for (int d = 0; d < depth; d++) {
                for (int w = 0; w < width; w++) {
                    levels[d][w] = new HashSet<Object>();
                    levels[d][w].add("n" + d + "." + w);
                }
            }
            // Linked from the top down, each set while it holds only its
            // label: building costs nothing, hashing the top WIDTH^DEPTH.
            for (int d = 0; d + 1 < depth; d++) {
                for (int w = 0; w < width; w++) {
                    for (int i = 0; i < width; i++) {
                        levels[d][w].add(levels[d + 1][i]);
                    }
                }
            }
            value = levels[0][0];
        } else {
            Set<Object> root = new HashSet<Object>();
            Set<Object> s1 = root;
            Set<Object> s2 = new HashSet<Object>();
            for (int i = 0; i < 100; i++) {
                Set<Object> t1 = new HashSet<Object>();
                Set<Object> t2 = new HashSet<Object>();
                t1.add("x");
                s1.add(t1);
                s1.add(t2);
                s2.add(t1);
                s2.add(t2);
                s1 = t1;
                s2 = t2;
            }
            value = root;
        }
        ObjectOutputStream out = new ObjectOutputStream(new FileOutputStream(args[1]));
        out.writeObject(value);
        out.close();
    }
}
