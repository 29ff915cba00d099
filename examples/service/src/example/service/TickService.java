package example.service;

import com.tarnwick.qlx.EventLog;
import com.tarnwick.qlx.ServiceStatusHandler;
import com.tarnwick.qlx.ServiceStatusManager;

/**
 * Counts seconds while it runs. As a service it can be paused, continued
 * and stopped from the service manager, and reports each change to the
 * event log. From a console ("TickService.exe /test 3") it counts to the
 * number given and ends.
 */
public class TickService implements ServiceStatusHandler {
    private static final int EVENT_STARTED = 1;
    private static final int EVENT_PAUSED = 2;
    private static final int EVENT_CONTINUED = 3;
    private static final int EVENT_STOPPING = 4;

    private final EventLog log = new EventLog();  // source: the executable's name
    private volatile boolean paused;
    private volatile boolean stopping;

    public boolean canPause() {
        return true;  // asked once, when the service is installed
    }

    public boolean onPause() {
        paused = true;
        report(EVENT_PAUSED, "paused");
        return true;
    }

    public boolean onContinue() {
        paused = false;
        report(EVENT_CONTINUED, "continued");
        return true;
    }

    public boolean onStop() {
        // The stop cannot be vetoed: the launcher calls System.exit(0) next.
        stopping = true;
        report(EVENT_STOPPING, "stopping");
        return true;
    }

    private void report(int id, String text) {
        log.reportEvent(EventLog.EVENTLOG_INFORMATION_TYPE, 0, id, new String[] {text}, null);
        System.out.println(text);
    }

    public static void main(String[] args) throws InterruptedException {
        TickService service = new TickService();
        ServiceStatusManager.setServiceStatusHandler(service);  // no effect from a console
        int limit = args.length > 0 ? Integer.parseInt(args[0]) : -1;
        service.report(EVENT_STARTED, "started as " +
                (ServiceStatusManager.isRunAsService ? "a service" : "a console program"));
        ServiceStatusManager.setServiceStatus(ServiceStatusManager.STATUS_RUNNING);
        int ticks = 0;
        while (!service.stopping && (limit < 0 || ticks < limit)) {
            Thread.sleep(1000);
            if (!service.paused) {
                ticks++;
                System.out.println("tick " + ticks);
            }
        }
        System.out.println("counted " + ticks);
    }
}
