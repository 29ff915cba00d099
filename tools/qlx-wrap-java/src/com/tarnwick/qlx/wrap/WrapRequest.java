// The inputs of one wrapping run, as the command line and the build plugins
// give them. Paths are kept as given: messages name them that way.
package com.tarnwick.qlx.wrap;

import java.util.ArrayList;
import java.util.List;

public final class WrapRequest {
    /** Service identity and install-time defaults (null: not given). */
    public static final class Identity {
        public String name;
        public String displayName;
        public String description;
        /** Services this one depends on, separated by '/'. */
        public String dependencies;
        public String startType;
        public String account;
        public String recovery;
        public String failOnExit;

        boolean any() {
            return name != null || displayName != null || description != null || dependencies != null
                    || startType != null || account != null || recovery != null || failOnExit != null;
        }
    }

    /** Version information; written when any is set (null: not given). */
    public static final class Version {
        public String fileVersion;
        public String productVersion;
        public String company;
        public String productName;
        public String fileDescription;
        public String copyright;

        boolean any() {
            return fileVersion != null || productVersion != null || company != null || productName != null
                    || fileDescription != null || copyright != null;
        }
    }

    /** The launcher stub to copy; null for the built-in stub of {@link #platform}. */
    public String stub;
    /** "windows" (qlx.exe) or "linux" (qlx): which built-in stub to use. */
    public String platform = "windows";
    /** The application archive. */
    public String jar;
    /** A configuration file, read as the launcher's configuration text; null for none. */
    public String config;
    /** Configuration text given directly (instead of a file); null for none. */
    public String configText;
    public String output;
    public final List<String> merges = new ArrayList<String>();
    /** Merge the support classes com.tarnwick.qlx.* this JAR carries. */
    public boolean support;
    public final Identity identity = new Identity();
    public String icon;
    public final Version version = new Version();
    /** asInvoker (default), requireAdministrator or highestAvailable. */
    public String executionLevel = "asInvoker";
    public boolean utf8CodePage;
    /** Write the program even when the configuration has errors; they become notes. */
    public boolean allowConfigErrors;
    /** Every warning counts as an error: nothing is written when there is one. */
    public boolean strict;
}
