package com.tarnwick.qlx;

import java.io.Serializable;

/**
 * Single-instance operation: the running instances of this program, and
 * Java objects sent between them with optional replies. The natives live in
 * the launcher executable, which the static initialiser loads.
 */
public class Instances {
    /** Receives the objects that other instances (or this one) send. */
    public interface ReceiverInterface {
        void onReceive(int instance, Serializable obj);
    }

    /** Answers the message being delivered. */
    public interface Reply {
        void set(Serializable obj);
    }

    static {
        String path = System.getProperty("qlx.app.path");
        if (path != null && System.getProperty("qlx.natives.bound") == null) {
            System.load(path);
        }
    }

    public Instances() {
    }

    public static native int getFirstInstance();

    public static native int getCurrentInstance();

    public static native int[] getInstances();

    /** Sends to the first instance. */
    public static void sendObject(Serializable obj) {
        sendObject(getFirstInstance(), obj);
    }

    /** Sends without asking for a reply. */
    public static void sendObject(int instance, Serializable obj) {
        sendObject(instance, obj, null);
    }

    public static native void sendObject(int instance, Serializable obj, Instances.Reply reply);

    public static native Instances.Reply getReply();

    public static native void flush();

    public static native void setReceiver(Instances.ReceiverInterface receiver);
}
