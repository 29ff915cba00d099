package example.tray;

import com.tarnwick.qlx.SystemTray;
import com.tarnwick.qlx.SystemTrayMenu;

/**
 * An icon in the notification area (the program icon, id 1) with a balloon
 * at start and a menu on the right button: "Say hello", a "Speed" submenu
 * and "Exit". "--once" shows the icon and ends at once (for a smoke test).
 */
public class TrayApp {
    private static final int WM_RBUTTONUP = 0x205;
    private static final int SAY_HELLO = 1, SLOW = 2, FAST = 3, EXIT = 4;

    private static final Object lock = new Object();
    private static boolean done;

    public static void main(String[] args) throws InterruptedException {
        final SystemTray icon = new SystemTray(1, "Tray example", "Right-click for the menu",
                                               "Tray example", SystemTray.NIIF_INFO);
        SystemTrayMenu speed = new SystemTrayMenu();
        speed.Append("Slow", SLOW);
        speed.Append("Fast", FAST);
        final SystemTrayMenu menu = new SystemTrayMenu();
        menu.Append("Say hello", SAY_HELLO);
        menu.Append("Speed", speed);
        menu.AppendSeparator();
        menu.Append("Exit", EXIT);
        // Calls arrive on the launcher's tray thread, one at a time.
        icon.setSystemTrayCallback(new Object() {
            public void OnMouseClick(SystemTray tray, int message) {
                if (message == WM_RBUTTONUP) {
                    menu.Popup();
                }
            }

            public void OnMenuCommand(int id) {
                if (id == SAY_HELLO) {
                    icon.Change(1, "Tray example", "Hello!", "Tray example", SystemTray.NIIF_INFO);
                } else if (id == SLOW || id == FAST) {
                    System.out.println("speed " + (id == SLOW ? "slow" : "fast"));
                } else if (id == EXIT) {
                    synchronized (lock) {
                        done = true;
                        lock.notifyAll();
                    }
                }
            }
        });
        icon.Show();
        System.out.println("icon shown");
        synchronized (lock) {
            while (!done && !(args.length > 0 && args[0].equals("--once"))) {
                lock.wait();
            }
        }
        icon.Hide();
        System.out.println("icon removed");
    }
}
