package com.tarnwick.qlx;

/**
 * Writes events to the Windows event log. The event source is registered by
 * the constructor and deregistered when the object is finalised.
 */
public class EventLog {
    public static final int EVENTLOG_SUCCESS = 0;
    public static final int EVENTLOG_ERROR_TYPE = 1;
    public static final int EVENTLOG_WARNING_TYPE = 2;
    public static final int EVENTLOG_INFORMATION_TYPE = 4;
    public static final int EVENTLOG_AUDIT_SUCCESS = 8;
    public static final int EVENTLOG_AUDIT_FAILURE = 16;

    protected long h;

    static {
        String path = System.getProperty("qlx.app.path");
        if (path != null && System.getProperty("qlx.natives.bound") == null) {
            System.load(path);
        }
    }

    /** A source named after the executable file, on the local computer. */
    public EventLog() {
        this(null, null);
    }

    /** A null server means the local computer, a null source the executable's file name. */
    public EventLog(String server, String source) {
        h = 0;
        init(server, source);
    }

    /** Reports an event without insertion strings or data. */
    public void reportEvent(int type, int eventId) {
        reportEvent(type, 0, eventId, null, null);
    }

    native void init(String server, String source);

    /** Type and category are 16-bit values; only their low 16 bits are used. */
    public native void reportEvent(int type, int category, int eventId, String[] strings, byte[] data);

    protected native void finalize();
}
