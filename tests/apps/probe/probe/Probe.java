package probe;

import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.lang.management.ManagementFactory;
import java.lang.reflect.Field;
import java.nio.charset.StandardCharsets;
import java.util.List;

/**
 * Test application of the Linux end-to-end suite. Each argument is one
 * command; the output is one "key=value" line per fact, so tests can parse it.
 * Arguments that are not commands are printed as "arg=<text>".
 */
public class Probe {
    public static void main(String[] args) throws Exception {
        for (int i = 0; i < args.length; i++) {
            System.out.println("argv[" + i + "]=" + args[i]);
        }
        for (String command : args) {
            run(command);
        }
        System.out.flush();
    }

    private static void run(String command) throws Exception {
        int colon = command.indexOf(':');
        String verb = colon < 0 ? command : command.substring(0, colon);
        String value = colon < 0 ? "" : command.substring(colon + 1);
        if (verb.equals("prop")) {
            String v = System.getProperty(value);
            System.out.println("prop." + value + "=" + (v == null ? "<null>" : v));
        } else if (verb.equals("prophex")) {
            // The exact code points, independent of the output encoding.
            String v = System.getProperty(value);
            StringBuilder sb = new StringBuilder();
            if (v == null) {
                sb.append("<null>");
            } else {
                for (int i = 0; i < v.length(); i++) {
                    sb.append(String.format("%04x ", (int) v.charAt(i)));
                }
            }
            System.out.println("prophex." + value + "=" + sb.toString().trim());
        } else if (verb.equals("env")) {
            String v = System.getenv(value);
            System.out.println("env." + value + "=" + (v == null ? "<null>" : v));
        } else if (verb.equals("jvmargs")) {
            List<String> in = ManagementFactory.getRuntimeMXBean().getInputArguments();
            for (int i = 0; i < in.size(); i++) {
                System.out.println("jvmarg[" + i + "]=" + in.get(i));
            }
        } else if (verb.equals("exit")) {
            System.exit(Integer.parseInt(value));
        } else if (verb.equals("throw")) {
            throw new IllegalStateException("probe failure " + value);
        } else if (verb.equals("sleep")) {
            Thread.sleep(Long.parseLong(value));
        } else if (verb.equals("print")) {
            System.out.println(value);
        } else if (verb.equals("eprint")) {
            System.err.println(value);
        } else if (verb.equals("child")) {
            // Runs a shell command and prints its first output line.
            Process child = new ProcessBuilder("/bin/sh", "-c", value).start();
            java.io.BufferedReader in = new java.io.BufferedReader(
                    new java.io.InputStreamReader(child.getInputStream()));
            String line = in.readLine();
            child.waitFor();
            System.out.println("child=" + line);
        } else if (verb.equals("touch")) {
            new FileOutputStream(value).close();
        } else if (verb.equals("redir")) {
            redirect(value);
        } else if (verb.equals("service")) {
            System.out.println("isRunAsService="
                    + com.tarnwick.qlx.ServiceStatusManager.isRunAsService);
            com.tarnwick.qlx.ServiceStatusManager.setServiceStatus(
                    com.tarnwick.qlx.ServiceStatusManager.STATUS_RUNNING);
            System.out.println("setServiceStatus=returned");
        }
    }

    // Writes through RedirOutputStream into a file opened by Java: the file's
    // descriptor number is put into the stream's handle field by reflection.
    private static void redirect(String path) throws Exception {
        FileOutputStream file = new FileOutputStream(path, true);
        Field fdField = FileDescriptor.class.getDeclaredField("fd");
        fdField.setAccessible(true);
        int fd = fdField.getInt(file.getFD());
        com.tarnwick.qlx.RedirOutputStream out = new com.tarnwick.qlx.RedirOutputStream();
        out.write('0');  // handle still 0: nothing is written
        Field h = com.tarnwick.qlx.RedirOutputStream.class.getDeclaredField("h");
        h.setAccessible(true);
        h.setLong(out, fd);
        byte[] text = "redirected \u00e9\n".getBytes(StandardCharsets.UTF_8);
        for (byte b : text) {
            out.write(b);            // negative for the bytes of "é": low 8 bits only
        }
        out.write(0x141);            // 'A' plus a bit above the low byte
        out.write('\n');
        file.close();
        System.out.println("redir.fd=" + fd);
    }
}
