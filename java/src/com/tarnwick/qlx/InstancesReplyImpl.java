package com.tarnwick.qlx;

import java.io.Serializable;

/** The reply handed to a receiver; its fields belong to the native side. */
public class InstancesReplyImpl implements Instances.Reply {
    protected long p;
    protected long s;

    static {
        String path = System.getProperty("qlx.app.path");
        if (path != null && System.getProperty("qlx.natives.bound") == null) {
            System.load(path);
        }
    }

    public InstancesReplyImpl() {
        p = 0;
        s = 0;
    }

    public native void set(Serializable obj);
}
