package qlxtest;

// The application the launch tests start. What it saw is kept in static
// fields that the native side reads back after main has returned.
public class Main {
    public static String[] lastArgs;
    public static boolean hookRan;          // set by the start hook, through JNI
    public static boolean hookRanBeforeMain;
    public static String propertyAtMain;

    public static void main(String[] args) {
        lastArgs = args;
        hookRanBeforeMain = hookRan;
        propertyAtMain = System.getProperty("qlxtest.plain");
        String mode = System.getProperty("qlxtest.mode", "");
        if (mode.equals("throw")) {
            throw new IllegalStateException("thrown by main");
        }
        if (mode.equals("exit")) {
            System.exit(Integer.getInteger("qlxtest.status", 3).intValue());
        }
    }

    public static String joinedArgs() {
        StringBuilder b = new StringBuilder();
        for (int i = 0; lastArgs != null && i < lastArgs.length; i++) {
            b.append('[').append(lastArgs[i]).append(']');
        }
        return b.toString();
    }
}
