package qlxtest;

import com.tarnwick.qlx.SystemTray;

/** A tray callback that notes each call with the thread it came on. */
public class TrayCallback {
    public static String calls = "";
    public static SystemTray first;

    static synchronized void record(String call) {
        calls = calls + call + ";";
    }

    static String thread() {
        Thread t = Thread.currentThread();
        return t.isDaemon() ? "daemon" : "attached";
    }

    public void OnMouseClick(SystemTray tray, int message) {
        record("click " + (tray == null ? "null" : tray == first ? "first" : "?") + " " + message
                + " " + thread());
    }

    public void OnMenuCommand(int id) {
        record("command " + id + " " + thread());
    }
}
