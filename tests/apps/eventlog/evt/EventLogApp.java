package evt;

import com.tarnwick.qlx.EventLog;

/** Writes events through EventLog; the test reads Wine's trace of them. */
public class EventLogApp {
    /** Reaches the protected finalize, as the garbage collector would. */
    static class ClosableLog extends EventLog {
        ClosableLog(String server, String source) {
            super(server, source);
        }

        void close() {
            finalize();
        }
    }

    public static void main(String[] args) {
        EventLog log = new EventLog();
        byte[] data = {1, 2, 3, (byte) 0xff};
        log.reportEvent(EventLog.EVENTLOG_ERROR_TYPE, 2, 1000,
                new String[] {"first", null, "\u03a9mega"}, data);
        System.out.println("data " + data[0] + "," + data[1] + "," + data[2] + "," + data[3]);
        log.reportEvent(EventLog.EVENTLOG_INFORMATION_TYPE, 1001);
        log.reportEvent(EventLog.EVENTLOG_WARNING_TYPE, 0x10007, 1002, new String[0], new byte[0]);
        ClosableLog named = new ClosableLog("\\\\remote", "Custom Source");
        named.reportEvent(EventLog.EVENTLOG_AUDIT_SUCCESS, 3, -2, new String[] {"x"}, null);
        named.close();
        // Once finalised the object holds no handle: nothing more reaches
        // the system, and the collector's own finalize changes nothing.
        named.reportEvent(EventLog.EVENTLOG_ERROR_TYPE, 4);
        named.close();
        System.out.println("done");
    }
}
