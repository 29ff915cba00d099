package logflood;

/**
 * Writes numbered lines to standard output in blocks that alternate between
 * Java (System.out) and native code (a JNI library writing to the standard
 * handle), so that both kinds of writer share one log.
 *
 * Arguments: tag count [exit N] [native LIBRARY] [idle MILLISECONDS] [pace MILLISECONDS]
 * [child COMMAND] [progress N]. Each line is "TAG NUMBER java|native" padded to a
 * fixed width. pace: a pause after every block of 100 lines. child: `sh -c COMMAND`
 * started first with the program's standard streams, and not waited for.
 * progress: N updates of one progress line rewritten with carriage returns
 * ("\rTAG progress NUMBER"), then a line feed, before the lines.
 */
public class Flood {
    private static native void nativeLines(String tag, int from, int to);

    private static final String PAD = "................................";

    /** Through reflection: the Windows test VM has no ProcessBuilder (only Linux tests start children). */
    static void startChild(String command) throws Exception {
        Class builder = Class.forName("java.lang.ProcessBuilder");
        Object b = builder.getConstructor(new Class[] {String[].class})
                .newInstance(new Object[] {new String[] {"sh", "-c", command}});
        builder.getMethod("inheritIO", new Class[0]).invoke(b, new Object[0]);
        builder.getMethod("start", new Class[0]).invoke(b, new Object[0]);
    }

    public static void main(String[] args) throws Exception {
        String tag = args[0];
        int count = Integer.parseInt(args[1]);
        int exitCode = -1;
        boolean withNative = false;
        long idle = 0;
        long pace = 0;
        int progress = 0;
        for (int i = 2; i + 1 < args.length; i += 2) {
            if (args[i].equals("exit")) {
                exitCode = Integer.parseInt(args[i + 1]);
            } else if (args[i].equals("idle")) {
                idle = Long.parseLong(args[i + 1]);
            } else if (args[i].equals("pace")) {
                pace = Long.parseLong(args[i + 1]);
            } else if (args[i].equals("progress")) {
                progress = Integer.parseInt(args[i + 1]);
            } else if (args[i].equals("child")) {
                startChild(args[i + 1]);
            } else if (args[i].equals("native")) {
                System.load(args[i + 1]);
                withNative = true;
            }
        }
        for (int n = 0; n < progress; n++) {
            System.out.print("\r" + tag + " progress " + n);
        }
        if (progress > 0) {
            System.out.println();
        }
        final int block = 100;
        for (int from = 0; from < count; from += block) {
            int to = Math.min(count, from + block);
            if (withNative && (from / block) % 2 == 1) {
                System.out.flush();
                nativeLines(tag, from, to);
            } else {
                for (int n = from; n < to; n++) {
                    System.out.println(tag + " " + n + " java " + PAD);
                }
            }
            if (pace > 0) {
                System.out.flush();
                Thread.sleep(pace);
            }
        }
        System.out.flush();
        if (idle > 0) {
            Thread.sleep(idle);
        }
        if (exitCode >= 0) {
            System.exit(exitCode);
        }
    }
}
