package sample;

/** The sample application: greets, lists its arguments and where it runs from. */
public class Hello {
    public static void main(String[] args) {
        System.out.println("Hello from a wrapped Java application.");
        System.out.println("arguments: " + args.length);
        for (int i = 0; i < args.length; i++) {
            System.out.println("  [" + i + "] " + args[i]);
        }
        System.out.println("qlx.app.path = " + System.getProperty("qlx.app.path"));
        System.out.println("java.version = " + System.getProperty("java.version"));
        System.out.println("java.vm.name = " + System.getProperty("java.vm.name"));
    }
}
