// A failure of the generator: the exit code the command line ends with and
// a one-line message (the command line prefixes it with "qlxwrap: ").
package com.tarnwick.qlx.wrap;

public class WrapException extends Exception {
    private static final long serialVersionUID = 1L;

    private final int code;

    public WrapException(int code, String message) {
        super(message);
        this.code = code;
    }

    /** One of the {@link ExitCodes}. */
    public int code() {
        return code;
    }
}
