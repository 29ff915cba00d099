package example.tool;

import com.tarnwick.qlx.Instances;
import java.io.Serializable;

/**
 * "Opens" the files named on its command line. The first instance stays
 * and takes the files of every later start ("Opener.exe /test a.txt b.txt"
 * started again hands a.txt and b.txt over); "--quit" ends it.
 */
public class Opener implements Instances.ReceiverInterface {
    private static final Object lock = new Object();
    private static boolean quit;

    public void onReceive(int instance, Serializable obj) {
        // A handed-over command line arrives as a String[].
        String[] args = (String[]) obj;
        boolean quitting = contains(args, "--quit");
        int opened = open(args);
        Instances.getReply().set(quitting ? "first instance ends" : "opened " + opened + " file(s)");
        if (quitting) {
            // Only after the answer is set: main ends the process when woken.
            synchronized (lock) {
                quit = true;
                lock.notifyAll();
            }
        }
    }

    private static boolean contains(String[] args, String wanted) {
        for (int i = 0; i < args.length; i++) {
            if (args[i].equals(wanted)) {
                return true;
            }
        }
        return false;
    }

    private static int open(String[] args) {
        int opened = 0;
        for (int i = 0; i < args.length; i++) {
            // The /test switch comes along, and --quit is no file.
            if (!args[i].startsWith("/") && !args[i].startsWith("--")) {
                System.out.println("open " + args[i]);
                opened++;
            }
        }
        return opened;
    }

    public static void main(String[] args) throws InterruptedException {
        Instances.setReceiver(new Opener());
        System.out.println("first instance " + Instances.getCurrentInstance() + " ready");
        open(args);
        synchronized (lock) {
            while (!quit) {
                lock.wait();
            }
        }
        // The answer to --quit travels after onReceive returns: give it time
        // to reach the instance that asked before this process ends.
        Instances.flush();
        Thread.sleep(500);
        System.out.println("bye");
    }
}
