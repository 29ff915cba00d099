package com.tarnwick.qlx;

import java.io.IOException;
import java.io.InputStream;
import java.io.ObjectInputStream;
import java.io.ObjectStreamClass;
import java.lang.reflect.Modifier;
import java.lang.reflect.Proxy;

/**
 * Deserialises with a given class loader first, so that objects of the
 * application's own classes can be read on a thread that the virtual machine
 * did not start. Given an InstanceFilter as its loader, it resolves only
 * what the filter admits, the interfaces of a proxy class included.
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

    protected Class resolveProxyClass(String[] interfaces) throws IOException, ClassNotFoundException {
        ClassLoader defining = classLoader instanceof InstanceFilter ? ((InstanceFilter) classLoader).target : classLoader;
        Class[] types = new Class[interfaces.length];
        ClassLoader nonPublic = null;
        try {
            for (int i = 0; i < interfaces.length; i++) {
                types[i] = Class.forName(interfaces[i], false, classLoader);
                if ((types[i].getModifiers() & Modifier.PUBLIC) == 0) {
                    // A proxy for a package-private interface must live in its loader.
                    if (nonPublic != null && nonPublic != types[i].getClassLoader()) {
                        throw new ClassNotFoundException("proxy interfaces of different loaders");
                    }
                    nonPublic = types[i].getClassLoader();
                }
            }
        } catch (ClassNotFoundException e) {
            if (classLoader instanceof InstanceFilter) {
                throw e;
            }
            return super.resolveProxyClass(interfaces);
        }
        try {
            return Proxy.getProxyClass(nonPublic != null ? nonPublic : defining, types);
        } catch (IllegalArgumentException e) {
            throw new ClassNotFoundException("no proxy class for these interfaces: " + e.getMessage());
        }
    }
}
