package qlxtest;

/** An application thread that outlives main for a while (not a daemon). */
public class LateThread {
    public static void start(final long millis) {
        new Thread() {
            public void run() {
                try {
                    Thread.sleep(millis);
                } catch (InterruptedException e) {
                }
            }
        }.start();
    }
}
