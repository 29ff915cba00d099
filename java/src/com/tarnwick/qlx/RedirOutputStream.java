package com.tarnwick.qlx;

import java.io.OutputStream;

/**
 * An output stream that writes each byte to the operating-system handle (a
 * file descriptor on Linux) held in {@code h}. The constructor leaves
 * {@code h} at 0, which writes nothing; a subclass sets it.
 */
public class RedirOutputStream extends OutputStream {
    protected long h;

    static {
        String path = System.getProperty("qlx.app.path");
        if (path != null && System.getProperty("qlx.natives.bound") == null) {
            System.load(path);
        }
    }

    public RedirOutputStream() {
        h = 0;
    }

    public native void write(int b);
}
