package probe;

/** A class without any main method. */
public class NoMain {
    public static void run(String[] args) {
    }
}
