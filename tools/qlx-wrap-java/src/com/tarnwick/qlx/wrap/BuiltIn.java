// What qlx-wrap.jar carries from the build it came from: the launcher
// stubs, the support classes and the version number.
package com.tarnwick.qlx.wrap;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;

public final class BuiltIn {
    private static final String BASE = "/com/tarnwick/qlx/wrap/";

    private BuiltIn() {}

    /** The version of the build, or "unknown" for classes run outside their JAR. */
    public static String version() {
        byte[] v = resource("version.txt");
        return v == null ? "unknown" : new String(v, Text.UTF8).trim();
    }

    /** The launcher stub for "windows" (qlx.exe) or "linux" (qlx); null when this JAR has none. */
    static byte[] stub(String platform) {
        return resource(platform.equals("linux") ? "stub/qlx" : "stub/qlx.exe");
    }

    static byte[] supportClasses() {
        return resource("qlx-support.jar");
    }

    private static byte[] resource(String name) {
        try (InputStream in = BuiltIn.class.getResourceAsStream(BASE + name)) {
            if (in == null) return null;
            ByteArrayOutputStream out = new ByteArrayOutputStream();
            byte[] buffer = new byte[65536];
            for (int n; (n = in.read(buffer)) > 0;) out.write(buffer, 0, n);
            return out.toByteArray();
        } catch (IOException e) {
            return null;
        }
    }
}
