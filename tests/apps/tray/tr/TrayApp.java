package tr;

import com.tarnwick.qlx.SystemTray;
import com.tarnwick.qlx.SystemTrayMenu;
import java.io.FileOutputStream;

/**
 * A tray application for the end-to-end tests. Every callback it receives
 * is appended to the file named by tray.record with the icon it names and
 * the thread it ran on. A right click pops the menu up; item 7 ends the
 * run, item 8 clears the callback (the run ends 1.5 s later).
 * Properties: tray.record, tray.quiet (mouse moves are counted, not
 * recorded: "moves N" at the end), tray.endWithMenu (main returns as soon
 * as the menu is open).
 */
public class TrayApp {
    static Thread mainThread;
    static SystemTray first, second, hidden;
    static SystemTrayMenu menu;
    static volatile int state; // 0 running, 1 quit, 2 callback cleared, 3 menu open
    static int moves;

    /** Reaches the protected finalize, as the garbage collector would. */
    static class Icon extends SystemTray {
        Icon(int iconId, String tip, String info, String title, int flags) {
            super(iconId, tip, info, title, flags);
        }

        void free() {
            finalize();
        }
    }

    static synchronized void record(String line) {
        try {
            FileOutputStream out = new FileOutputStream(System.getProperty("tray.record"), true);
            out.write((line + "\n").getBytes("UTF-8"));
            out.close();
        } catch (Exception e) {
            e.printStackTrace();
        }
    }

    static String thread() {
        Thread t = Thread.currentThread();
        return t == mainThread ? "main" : (t.isDaemon() ? "daemon" : "attached");
    }

    static String name(SystemTray tray) {
        if (tray == null) return "null";
        return tray == first ? "first" : tray == second ? "second" : "?";
    }

    public void OnMouseClick(SystemTray tray, int message) {
        if (message == 0x200 && System.getProperty("tray.quiet") != null) {
            moves++;
            return;
        }
        record("click " + name(tray) + " 0x" + Integer.toHexString(message) + " " + thread());
        if (message == 0x205) {
            record("popup");
            if (System.getProperty("tray.endWithMenu") != null) state = 3;
            menu.Popup();
            record("popup closed");
        }
    }

    public void OnMenuCommand(int id) {
        record("command " + id + " " + thread());
        if (id == 7) state = 1;
        if (id == 8) {
            first.setSystemTrayCallback(null);
            state = 2;
        }
    }

    public static void main(String[] args) throws Exception {
        mainThread = Thread.currentThread();
        first = new SystemTray(1, "qlx tray test");
        second = new SystemTray(1, "second", "balloon text", "balloon title", SystemTray.NIIF_INFO);
        Icon gone = new Icon(1, "gone", null, null, 0);
        hidden = new SystemTray(1, "hidden");
        gone.free();
        first.setSystemTrayCallback(new TrayApp());
        first.Show();
        first.Show();
        second.Show();
        hidden.Change(0, "changed while hidden", "info", "title", 1);

        menu = new SystemTrayMenu();
        menu.Append("Open", 0);
        SystemTrayMenu more = new SystemTrayMenu();
        more.Append("Three", 3);
        more.Append("Max", 1000);
        more.Append("Over", 1001);
        more.Append("Negative", -1);
        menu.Append("More", more);
        menu.AppendSeparator();
        menu.Append("Quit", 7);
        record("ready");

        while (state == 0) {
            Thread.sleep(50);
        }
        if (state == 2) {
            Thread.sleep(1500);
        }
        if (state == 3) {
            Thread.sleep(500); // the menu is up by now
        }
        second.Hide();
        if (moves > 0) record("moves " + moves);
        record("end");
    }
}
