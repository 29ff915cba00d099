package com.tarnwick.qlx;

/**
 * Service status reporting. The launcher sets {@code isRunAsService} before
 * it calls main when it runs as a service, so applications may call the
 * setters unconditionally: outside a service they do nothing.
 */
public class ServiceStatusManager {
    public static final int STATUS_START_PENDING = 2;
    public static final int STATUS_RUNNING = 4;
    public static final int STATUS_PAUSED = 7;

    public static boolean isRunAsService;

    static {
        isRunAsService = false;
        String path = System.getProperty("qlx.app.path");
        if (path != null && System.getProperty("qlx.natives.bound") == null) {
            System.load(path);
        }
    }

    public static void setServiceStatus(int status) {
        if (isRunAsService) {
            nativeSetServiceStatus(status);
        }
    }

    public static void setServiceStatusHandler(ServiceStatusHandler handler) {
        if (isRunAsService) {
            nativeSetServiceStatusHandler(handler);
        }
    }

    public static native String[] getCommandLineArguments();

    public static native String[] getStartupParameters();

    private static native void nativeSetServiceStatus(int status);

    private static native void nativeSetServiceStatusHandler(ServiceStatusHandler handler);
}
