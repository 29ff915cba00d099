package qlxtest;

/** Ends the VM with System.exit(3) after a shutdown hook has something to do. */
public class ServiceExit {
    public static void main(String[] args) {
        Runtime.getRuntime().addShutdownHook(new Thread() {
            public void run() {
                System.err.println("shutdown hook ran");
                System.err.flush();
            }
        });
        System.exit(3);
    }
}
