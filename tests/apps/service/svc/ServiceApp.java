package svc;

import com.tarnwick.qlx.ServiceStatusHandler;
import com.tarnwick.qlx.ServiceStatusManager;
import java.io.FileOutputStream;

/**
 * A service for the end-to-end tests. Everything it sees is appended, one
 * line at a time, to the file named by the property svc.record, so a test
 * reads the true order of events even after the process has ended.
 * Properties: svc.handler (install a handler), svc.canPause, svc.pauseAnswer,
 * svc.report (statuses to report at start, comma-separated), svc.exit (call
 * System.exit with it), svc.return (main returns at once), svc.hookDelay
 * (milliseconds the shutdown hook takes), svc.stopDelay and svc.pauseDelay
 * (milliseconds onStop and onPause take), svc.throw (main ends with an
 * uncaught exception after it has started), svc.heartbeat (a line
 * "heartbeat N" on standard error every that many milliseconds, 0: without
 * a pause, until the process ends), svc.beat (milliseconds between
 * numbered lines "TAG line K" on standard output, TAG the first argument;
 * the shutdown hook stops them and writes "TAG end N", N the number of
 * lines written, and a start parameter "slowstop" makes onStop take 1.5 s).
 */
public class ServiceApp implements ServiceStatusHandler {
    static void record(String line) {
        try {
            FileOutputStream out = new FileOutputStream(System.getProperty("svc.record"), true);
            out.write((line + "\n").getBytes("UTF-8"));
            out.close();
        } catch (Exception e) {
            e.printStackTrace();
        }
    }

    static String join(String[] items) {
        StringBuilder b = new StringBuilder();
        for (int i = 0; i < items.length; i++) {
            b.append(i == 0 ? "" : ",").append(items[i]);
        }
        return b.toString();
    }

    static boolean flag(String name) {
        return "true".equals(System.getProperty(name));
    }

    public boolean canPause() {
        record("canPause");
        return flag("svc.canPause");
    }

    static void pause(String property) {
        long millis = Long.parseLong(System.getProperty(property, "0"));
        if (millis > 0) {
            try {
                Thread.sleep(millis);
            } catch (InterruptedException e) {
            }
        }
    }

    public boolean onPause() {
        record("onPause");
        pause("svc.pauseDelay");
        return flag("svc.pauseAnswer");
    }

    public boolean onContinue() {
        record("onContinue");
        return true;
    }

    static boolean slowStop;
    static int beats;  // lines written so far; -1 once the end line is out

    public boolean onStop() {
        record("onStop");
        pause("svc.stopDelay");
        if (slowStop) {
            try {
                Thread.sleep(1500);
            } catch (InterruptedException e) {
            }
        }
        record("onStopDone");
        return false; // cannot veto the stop
    }

    public static void main(String[] args) throws Exception {
        record("main " + join(args));
        record("isRunAsService " + ServiceStatusManager.isRunAsService);
        String[] line = ServiceStatusManager.getCommandLineArguments();
        String[] params = ServiceStatusManager.getStartupParameters();
        record("commandLine " + join(line) + " same=" + (line == ServiceStatusManager.getCommandLineArguments()));
        record("parameters " + join(params) + " same=" + (params == ServiceStatusManager.getStartupParameters()));
        final long hookDelay = Long.parseLong(System.getProperty("svc.hookDelay", "0"));
        final long beat = Long.parseLong(System.getProperty("svc.beat", "0"));
        final String tag = args.length > 0 ? args[0] : "-";
        for (int i = 0; i < args.length; i++) {
            slowStop = slowStop || args[i].equals("slowstop");
        }
        final Thread beater = new Thread() {
            public void run() {
                for (int k = 0; ; k++) {
                    synchronized (System.out) {
                        if (beats < 0) {
                            return;
                        }
                        System.out.println(tag + " line " + k);
                        System.out.flush();
                        beats = k + 1;
                    }
                    try {
                        Thread.sleep(beat);
                    } catch (InterruptedException e) {
                    }
                }
            }
        };
        Runtime.getRuntime().addShutdownHook(new Thread() {
            public void run() {
                try {
                    Thread.sleep(hookDelay);
                } catch (InterruptedException e) {
                }
                record("shutdownHook");
                if (beat > 0) {
                    synchronized (System.out) {
                        System.out.println(tag + " end " + beats);
                        System.out.flush();
                        beats = -1;
                    }
                }
            }
        });
        if (beat > 0) {
            record("hooked " + tag);
            beater.setDaemon(true);
            beater.start();
        }
        if (flag("svc.handler")) {
            ServiceStatusManager.setServiceStatusHandler(new ServiceApp());
        }
        if (System.getProperty("svc.heartbeat") != null) {
            Thread heart = new Thread() {
                public void run() {
                    for (int n = 0;; n++) {
                        System.err.println("heartbeat " + n);
                        pause("svc.heartbeat");
                    }
                }
            };
            heart.setDaemon(true);
            heart.start();
        }
        String report = System.getProperty("svc.report", "");
        if (report.length() > 0) {
            String[] statuses = report.split(",");
            for (int i = 0; i < statuses.length; i++) {
                ServiceStatusManager.setServiceStatus(Integer.parseInt(statuses[i]));
            }
        }
        record("started");
        if (System.getProperty("svc.exit") != null) {
            Thread.sleep(1500);
            System.exit(Integer.parseInt(System.getProperty("svc.exit")));
        }
        if (flag("svc.throw")) {
            throw new IllegalStateException("service crashed");
        }
        if (flag("svc.return")) {
            record("returning");
            return;
        }
        while (true) {
            Thread.sleep(100);
        }
    }
}
