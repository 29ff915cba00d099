package inst;

import com.tarnwick.qlx.Instances;
import java.io.ByteArrayOutputStream;
import java.io.FileOutputStream;
import java.io.ObjectOutputStream;
import java.io.Serializable;

/**
 * An instances test program. "serve" receives and answers until told to
 * quit; "send WHAT..." sends to the first instance (ping:X, self:X,
 * bytes:N for a message of exactly N bytes, ask:ID:X to instance ID, note:X an object of this
 * package, gadget:PATH an object the receiver must refuse, stall:MS a text
 * the receiver answers only after MS milliseconds, quit) and records
 * the replies; flood:N sends N byte arrays of mixed sizes, at most 64 on
 * their way at a time, and pauses 3 s after the first 10,000 (half of
 * them, for up to 20,000). A handed-over
 * command line whose first argument is "slow:MS" is answered after MS
 * milliseconds; one that holds "quit" ends "serve". With the property
 * inst.exit set, "serve" ends through System.exit; with the environment
 * variable INST_QUIET set, received byte arrays are not recorded.
 * Every line goes to the file named by the property inst.record.
 */
public class InstanceApp implements Instances.ReceiverInterface {
    static volatile boolean quit;
    static int replies;
    static boolean quietReplies;

    static synchronized void record(String line) {
        try {
            String path = System.getenv("INST_RECORD");
            FileOutputStream out = new FileOutputStream(path != null ? path : System.getProperty("inst.record"), true);
            out.write((line + "\n").getBytes("UTF-8"));
            out.close();
        } catch (Exception e) {
            e.printStackTrace();
        }
    }

    static String join(String[] items, int from) {
        StringBuilder b = new StringBuilder();
        for (int i = from; i < items.length; i++) {
            b.append(i == from ? "" : ",").append(items[i]);
        }
        return b.toString();
    }

    public void onReceive(int instance, Serializable obj) {
        Instances.Reply reply = Instances.getReply();
        String from = instance == Instances.getCurrentInstance() ? "self" : "other";
        if (obj instanceof String[]) {
            String[] args = (String[]) obj;
            record("args from " + from + " " + join(args, 0));
            if (args.length > 0 && args[0].startsWith("slow:")) {
                pause(Long.parseLong(args[0].substring(5)));
            }
            for (int i = 0; i < args.length; i++) {
                quit |= args[i].equals("quit");
            }
            reply.set("answer:" + join(args, 0));
        } else if (obj instanceof byte[]) {
            if (System.getenv("INST_QUIET") == null) {
                record("bytes from " + from + " " + ((byte[]) obj).length);
            }
            reply.set(new Integer(((byte[]) obj).length));
        } else if (obj instanceof String && ((String) obj).length() > 100) {
            reply.set(new Integer(((String) obj).length()));
        } else {
            record("object from " + from + " " + obj);
            if (obj instanceof String && ((String) obj).startsWith("stall:")) {
                pause(Long.parseLong(((String) obj).substring(6)));
            }
            reply.set("pong:" + obj);
            if ("quit".equals(obj)) {
                quit = true;
            }
        }
    }

    static void pause(long ms) {
        try {
            Thread.sleep(ms);
        } catch (InterruptedException e) {
            record("interrupted");
        }
    }

    static class Recorder implements Instances.Reply {
        public void set(Serializable obj) {
            if (!quietReplies) {
                record("reply " + obj);
            }
            synchronized (InstanceApp.class) {
                replies++;
                InstanceApp.class.notifyAll();
            }
        }
    }

    static int overhead() throws Exception {
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        ObjectOutputStream out = new ObjectOutputStream(bytes);
        out.writeObject(new byte[0]);
        out.close();
        return bytes.toByteArray().length;
    }

    static int serializedSize(Serializable obj) throws Exception {
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        ObjectOutputStream out = new ObjectOutputStream(bytes);
        out.writeObject(obj);
        out.close();
        return bytes.toByteArray().length;
    }

    /** A text whose message is exactly `size` bytes (texts serialise in bulk). */
    static String textOfMessageSize(int size) throws Exception {
        int length = size - 8;
        length -= serializedSize(repeat(length)) - length;
        return repeat(length);
    }

    static String repeat(int length) {
        char[] chars = new char[length];
        java.util.Arrays.fill(chars, 'x');
        return new String(chars);
    }

    static void roundTrips(int size, int count) throws Exception {
        String message = textOfMessageSize(size);
        quietReplies = true;
        long start = System.nanoTime();
        for (int i = 0; i < count; i++) {
            synchronized (InstanceApp.class) {
                int before = replies;
                Instances.sendObject(0, message, new Recorder());
                while (replies == before) {
                    InstanceApp.class.wait(20000);
                }
            }
        }
        record("rt " + size + " " + count + " " + (System.nanoTime() - start) / 1000 + "us");
        quietReplies = false;
    }

    static void flood(int count) throws Exception {
        int[] sizes = {16, 200, 1000, 1025, 3000, 8000};
        quietReplies = true;
        int base;
        synchronized (InstanceApp.class) {
            base = replies;
        }
        for (int i = 0; i < count; i++) {
            Instances.sendObject(0, new byte[sizes[i % sizes.length]], new Recorder());
            int mark = count > 20000 ? 10000 : count / 2;
            int window = i + 1 == mark || i + 1 == count ? 0 : 64;
            synchronized (InstanceApp.class) {
                long end = System.currentTimeMillis() + 60000;
                while (i + 1 - (replies - base) > window && System.currentTimeMillis() < end) {
                    InstanceApp.class.wait(1000);
                }
            }
            if (i + 1 == mark) {
                record("sent " + mark);
                Thread.sleep(3000);
            }
        }
        record("flood " + count + " " + (replies - base));
        quietReplies = false;
    }

    public static void main(String[] args) throws Exception {
        String role = args.length > 0 ? args[0] : "serve";
        int self = Instances.getCurrentInstance();
        boolean first = Instances.getFirstInstance() == self;
        int[] listed = Instances.getInstances();
        boolean selfListed = false;
        for (int i = 0; i < listed.length; i++) {
            selfListed |= listed[i] == self;
        }
        record("start " + role + " first=" + first + " listed=" + listed.length + " self-listed="
                + selfListed + " available=" + (self != -1) + " id=" + self);
        Instances.setReceiver(new InstanceApp());
        record("getReply on main thread " + Instances.getReply());
        if (role.equals("send")) {
            int expected = 0;
            for (int i = 1; i < args.length; i++) {
                String what = args[i];
                Serializable obj = what;
                int target = 0;
                if (what.startsWith("to:")) {
                    String[] parts = what.split(":");
                    Instances.sendObject(Integer.parseInt(parts[1]), parts[2]);
                    continue;
                }
                if (what.startsWith("ask:")) {
                    String[] parts = what.split(":");
                    target = Integer.parseInt(parts[1]);
                    obj = parts[2];
                } else if (what.startsWith("rt:")) {
                    String[] parts = what.split(":");
                    roundTrips(Integer.parseInt(parts[1]), Integer.parseInt(parts[2]));
                    continue;
                } else if (what.startsWith("flood:")) {
                    flood(Integer.parseInt(what.substring(6)));
                    continue;
                }
                if (what.startsWith("self:")) {
                    target = Instances.getCurrentInstance();
                    obj = what.substring(5);
                } else if (what.startsWith("note:")) {
                    obj = new Note(what.substring(5));
                } else if (what.startsWith("gadget:")) {
                    gadget.Gadget g = new gadget.Gadget();
                    g.path = what.substring(7);
                    obj = g;
                } else if (what.startsWith("bytes:")) {
                    obj = new byte[Integer.parseInt(what.substring(6)) - 8 - overhead()];
                }
                Instances.sendObject(target, obj, new Recorder());
                expected++;
            }
            Instances.flush();
            for (int i = 0; i < 400 && replies < expected; i++) {
                Thread.sleep(50);
            }
            record("done " + replies + "/" + expected);
            return;
        }
        long end = System.currentTimeMillis() + Long.parseLong(System.getProperty("inst.lifetime", "60000"));
        while (!quit && System.currentTimeMillis() < end) {
            Thread.sleep(50);
        }
        Instances.flush();
        record("end " + role);
        if (System.getProperty("inst.exit") != null) {
            System.exit(0);
        }
    }
}
