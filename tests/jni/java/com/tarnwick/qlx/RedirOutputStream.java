package com.tarnwick.qlx;

// Test copy of the support class with the same shape; the tests bind its
// native to the launcher's exported function themselves.
public class RedirOutputStream extends java.io.OutputStream {
    protected long h;

    public RedirOutputStream() {
        h = 0;
    }

    public native void write(int b);
}
