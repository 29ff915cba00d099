package logflood;

/**
 * Writes numbered lines to standard output in blocks that alternate between
 * Java (System.out) and native code (a JNI library writing to the standard
 * handle), so that both kinds of writer share one log.
 *
 * Arguments: tag count [exit N] [native LIBRARY] [idle MILLISECONDS]. Each line is
 * "TAG NUMBER java|native" padded to a fixed width.
 */
public class Flood {
    private static native void nativeLines(String tag, int from, int to);

    private static final String PAD = "................................";

    public static void main(String[] args) throws Exception {
        String tag = args[0];
        int count = Integer.parseInt(args[1]);
        int exitCode = -1;
        boolean withNative = false;
        long idle = 0;
        for (int i = 2; i + 1 < args.length; i += 2) {
            if (args[i].equals("exit")) {
                exitCode = Integer.parseInt(args[i + 1]);
            } else if (args[i].equals("idle")) {
                idle = Long.parseLong(args[i + 1]);
            } else if (args[i].equals("native")) {
                System.load(args[i + 1]);
                withNative = true;
            }
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
