package com.tarnwick.qlx;

/**
 * An icon in the notification area. Icons start hidden; {@link #Show} adds
 * them. Mouse activity and chosen menu items go to the one callback object
 * set with {@link #setSystemTrayCallback}, which must have the methods
 * {@code public void OnMouseClick(SystemTray tray, int message)} and
 * {@code public void OnMenuCommand(int id)}.
 */
public class SystemTray {
    public static final int NIIF_NONE = 0;
    public static final int NIIF_INFO = 1;
    public static final int NIIF_WARNING = 2;
    public static final int NIIF_ERROR = 3;

    protected long h;

    static {
        String path = System.getProperty("qlx.app.path");
        if (path != null && System.getProperty("qlx.natives.bound") == null) {
            System.load(path);
        }
    }

    /** An icon with a tool tip and no balloon. */
    public SystemTray(int iconId, String tip) {
        this(iconId, tip, null, null, NIIF_NONE);
    }

    /** Balloons appear only when both the text and the title are given here. */
    public SystemTray(int iconId, String tip, String info, String infoTitle, int infoFlags) {
        h = 0;
        init(iconId, tip, info, infoTitle, infoFlags);
    }

    native void init(int iconId, String tip, String info, String infoTitle, int infoFlags);

    public native void Show();

    public native void Hide();

    /** An iconId of 0 keeps the icon; a null info or infoTitle keeps that text. */
    public native void Change(int iconId, String tip, String info, String infoTitle, int infoFlags);

    protected native void finalize();

    /** Sets the process-wide callback object; null clears it. */
    public native void setSystemTrayCallback(Object callback);
}
