package inst;

import gadget.Gadget;
import java.io.FileOutputStream;
import java.io.ObjectOutputStream;
import java.util.HashSet;
import java.util.Set;

/**
 * Writes the serialisation streams a hostile process sends (run on the host's
 * JVM): "gadget FILE MARKER", a Gadget naming MARKER; "bomb FILE", nested
 * sets whose hash codes take 2^100 steps to compute.
 */
public class Streams {
    public static void main(String[] args) throws Exception {
        Object value;
        if (args[0].equals("gadget")) {
            Gadget gadget = new Gadget();
            gadget.path = args[2];
            value = gadget;
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
