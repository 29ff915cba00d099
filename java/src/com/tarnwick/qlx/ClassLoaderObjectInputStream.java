package com.tarnwick.qlx;

import java.io.IOException;
import java.io.InputStream;
import java.io.ObjectInputStream;
import java.io.ObjectStreamClass;

/**
 * Deserialises with a given class loader first, so that objects of the
 * application's own classes can be read on a thread that the virtual machine
 * did not start. Given an InstanceFilter as its loader, it resolves only
 * what the filter admits.
 */
public class ClassLoaderObjectInputStream extends ObjectInputStream {
    private ClassLoader classLoader;

    public ClassLoaderObjectInputStream(InputStream in, ClassLoader loader) throws IOException {
        super(in);
        classLoader = loader;
    }

    protected Class resolveClass(ObjectStreamClass desc) throws IOException, ClassNotFoundException {
        try {
            return Class.forName(desc.getName(), false, classLoader);
        } catch (ClassNotFoundException e) {
            if (classLoader instanceof InstanceFilter) {
                throw e;  // what the filter refused must not be found elsewhere
            }
            return super.resolveClass(desc);
        }
    }
}
