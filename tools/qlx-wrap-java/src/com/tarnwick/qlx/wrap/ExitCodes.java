// Process exit codes of the generator (documented by --help).
package com.tarnwick.qlx.wrap;

public final class ExitCodes {
    public static final int OK = 0;
    /** Bad option, missing option, unusable configuration text. */
    public static final int USAGE = 1;
    /** An input file is missing or unreadable. */
    public static final int UNREADABLE = 2;
    /** The JAR (or a merged archive) is not a usable zip. */
    public static final int BAD_ARCHIVE = 3;
    /** No archive length slot, two of them, or already wrapped. */
    public static final int BAD_STUB = 4;
    public static final int UNWRITABLE = 5;
    /** The service texts do not fit the stub's string block. */
    public static final int BAD_IDENTITY = 6;
    /** --icon names a file that is not an icon. */
    public static final int BAD_ICON = 7;
    /** The stub's resources cannot be rewritten. */
    public static final int BAD_RESOURCES = 8;
    /** --inspect: the digest does not match. */
    public static final int INSPECT_MODIFIED = 10;
    /** --inspect: bare stub, truncated or damaged file, not a qlx program. */
    public static final int INSPECT_NO_PAYLOAD = 11;

    private ExitCodes() {}
}
