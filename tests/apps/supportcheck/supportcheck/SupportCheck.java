package supportcheck;

import java.lang.reflect.Constructor;
import java.lang.reflect.Field;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;

/**
 * Loads and initialises each support class named on the command line and
 * prints its shape, one sorted line per member, for the tests to compare:
 *   class <modifiers> <name> extends <super> implements <interfaces>
 *   field <modifiers> <type> <name>
 *   ctor <modifiers> (<parameter types>)
 *   method <modifiers> <return type> <name>(<parameter types>)
 */
public class SupportCheck {
    public static void main(String[] args) throws Exception {
        if (args.length == 2 && args[0].equals("--resolve")) {
            resolve(args[1]);
            return;
        }
        if (args.length == 1 && args[0].equals("--native")) {
            try {
                new com.tarnwick.qlx.RedirOutputStream().write(65);
                System.out.println("native=returned");
            } catch (UnsatisfiedLinkError e) {
                System.out.println("native=UnsatisfiedLinkError");
            }
            return;
        }
        for (String name : args) {
            Class<?> c = Class.forName(name, true, SupportCheck.class.getClassLoader());
            List<String> lines = new ArrayList<String>();
            StringBuilder head = new StringBuilder("class " + Modifier.toString(c.getModifiers())
                    + " " + c.getName());
            if (c.getSuperclass() != null) {
                head.append(" extends ").append(c.getSuperclass().getName());
            }
            for (Class<?> i : c.getInterfaces()) {
                head.append(" implements ").append(i.getName());
            }
            for (Field f : c.getDeclaredFields()) {
                lines.add("field " + Modifier.toString(f.getModifiers()) + " "
                        + f.getType().getName() + " " + f.getName());
            }
            for (Constructor<?> k : c.getDeclaredConstructors()) {
                lines.add("ctor " + Modifier.toString(k.getModifiers()) + " ("
                        + names(k.getParameterTypes()) + ")");
            }
            for (Method m : c.getDeclaredMethods()) {
                lines.add("method " + Modifier.toString(m.getModifiers()) + " "
                        + m.getReturnType().getName() + " " + m.getName() + "("
                        + names(m.getParameterTypes()) + ")");
            }
            Collections.sort(lines);
            System.out.println(head.toString().replace("  ", " "));
            for (String line : lines) {
                System.out.println("  " + line.replace("  ", " "));
            }
        }
    }

    // Serialises an object of a class that only its own loader sees, then
    // reads it back through ClassLoaderObjectInputStream with that loader and
    // with one that cannot see the class.
    private static void resolve(String jar) throws Exception {
        java.net.URLClassLoader hidden = new java.net.URLClassLoader(
                new java.net.URL[] {new java.io.File(jar).toURI().toURL()}, null);
        Object value = hidden.loadClass("hidden.Hidden").getDeclaredConstructor().newInstance();
        java.io.ByteArrayOutputStream bytes = new java.io.ByteArrayOutputStream();
        java.io.ObjectOutputStream out = new java.io.ObjectOutputStream(bytes);
        out.writeObject(value);
        out.writeObject(new java.util.ArrayList<String>(java.util.Arrays.asList("a", "b")));
        out.close();
        ClassLoader[] loaders = {hidden, SupportCheck.class.getClassLoader()};
        String[] labels = {"own-loader", "other-loader"};
        for (int i = 0; i < loaders.length; i++) {
            com.tarnwick.qlx.ClassLoaderObjectInputStream in =
                    new com.tarnwick.qlx.ClassLoaderObjectInputStream(
                            new java.io.ByteArrayInputStream(bytes.toByteArray()), loaders[i]);
            try {
                Object back = in.readObject();
                Object list = in.readObject();  // a JDK class: found through either path
                System.out.println("resolve." + labels[i] + "=" + back + " loader="
                        + (back.getClass().getClassLoader() == hidden) + " list=" + list);
            } catch (ClassNotFoundException e) {
                System.out.println("resolve." + labels[i] + "=ClassNotFoundException: "
                        + e.getMessage());
            }
        }
    }

    private static String names(Class<?>[] types) {
        StringBuilder sb = new StringBuilder();
        for (int i = 0; i < types.length; i++) {
            if (i > 0) {
                sb.append(",");
            }
            sb.append(types[i].getName());
        }
        return sb.toString();
    }
}
