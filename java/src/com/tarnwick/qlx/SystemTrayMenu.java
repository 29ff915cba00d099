package com.tarnwick.qlx;

import java.util.HashSet;

/**
 * A pop-up menu for a tray icon. Item numbers 0 to 1000 come back through
 * the tray callback's {@code OnMenuCommand(int)}.
 */
public class SystemTrayMenu {
    protected long h;
    /** Keeps appended sub-menus (and their native menus) alive with this one. */
    protected HashSet popups;

    static {
        String path = System.getProperty("qlx.app.path");
        if (path != null && System.getProperty("qlx.natives.bound") == null) {
            System.load(path);
        }
    }

    public SystemTrayMenu() {
        h = 0;
        popups = new HashSet();
        init();
    }

    native void init();

    public native void Append(String label, int id);

    public native void Append(String label, SystemTrayMenu submenu);

    public native void AppendSeparator();

    /** Shows the menu at the mouse position; returns when it closes. */
    public native void Popup();

    protected native void finalize();
}
