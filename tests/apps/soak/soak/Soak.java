package soak;

import com.tarnwick.qlx.Instances;
import java.io.Serializable;

/**
 * The program of the kill soak: numbered lines into a rotated log, and an
 * instance message to itself after every block of lines, whose reply is
 * logged too. Runs until it is killed, or for `count` lines.
 *
 * Arguments: run count. Lines: "rRUN start", "rRUN noinstances", then
 * "rRUN SEQ line ................" and "rRUN SEQ reply ................",
 * and "rRUN noreply SEQ" when a reply does not come within 5 seconds.
 */
public class Soak implements Instances.ReceiverInterface {
    private static final String PAD = "................";
    private static final Object replied = new Object();
    private static int replies;

    public void onReceive(int instance, Serializable obj) {
        Instances.getReply().set(obj);
    }

    static class Answer implements Instances.Reply {
        public void set(Serializable obj) {
            synchronized (replied) {
                replies++;
                replied.notifyAll();
            }
        }
    }

    public static void main(String[] args) throws Exception {
        String run = "r" + args[0];
        long count = Long.parseLong(args[1]);
        System.out.println(run + " start");
        int self = Instances.getCurrentInstance();
        if (self == -1) {
            System.out.println(run + " noinstances");
        } else {
            Instances.setReceiver(new Soak());
        }
        for (long seq = 0; seq < count; seq++) {
            System.out.println(run + " " + seq + " line " + PAD);
            if (seq % 50 == 49 && self != -1) {
                synchronized (replied) {
                    int before = replies;
                    Instances.sendObject(self, run + " " + seq, new Answer());
                    long end = System.currentTimeMillis() + 5000;
                    while (replies == before && System.currentTimeMillis() < end) {
                        replied.wait(100);
                    }
                    System.out.println(replies == before ? run + " noreply " + seq
                            : run + " " + seq + " reply " + PAD);
                }
                Thread.sleep(20);
            }
        }
        System.out.flush();
    }
}
