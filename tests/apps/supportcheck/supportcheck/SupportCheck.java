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
