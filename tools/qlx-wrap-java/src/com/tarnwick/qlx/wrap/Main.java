// java -jar qlx-wrap.jar: makes one program file out of a qlx launcher stub
// (built in, or given), a configuration text and a Java application
// archive; the same options, messages and exit codes as qlxwrap.
package com.tarnwick.qlx.wrap;

import java.io.IOException;
import java.io.OutputStream;
import java.io.PrintStream;
import java.io.UnsupportedEncodingException;
import java.util.Arrays;
import java.util.List;

public final class Main {
    private Main() {}

    public static void main(String[] args) {
        System.exit(run(args, System.out, System.err));
    }

    /** Runs one command line; returns its exit code. Output is UTF-8. */
    public static int run(String[] args, OutputStream stdout, OutputStream stderr) {
        PrintStream out = utf8(stdout);
        PrintStream err = utf8(stderr);
        try {
            return run(Arrays.asList(args), out, err);
        } catch (RuntimeException | OutOfMemoryError e) {
            // A fault of this program, not of the inputs: said in one line,
            // with the exit code of a run that could not be done.
            return report(err, ExitCodes.USAGE, "internal error: " + e);
        } finally {
            out.flush();
            err.flush();
        }
    }

    private static PrintStream utf8(OutputStream s) {
        try {
            return new PrintStream(s, false, "UTF-8");
        } catch (UnsupportedEncodingException e) {
            throw new IllegalStateException(e);
        }
    }

    private static int report(PrintStream err, int code, String message) {
        err.print("qlxwrap: " + message + "\n");
        return code;
    }

    private static int run(List<String> args, PrintStream out, PrintStream err) {
        Options options;
        try {
            options = Options.parse(args);
        } catch (Options.Usage e) {
            return report(err, ExitCodes.USAGE, e.getMessage());
        }
        if (options.help) {
            out.print(Usage.TEXT);
            return ExitCodes.OK;
        }
        if (options.version) {
            out.print("qlx-wrap " + BuiltIn.version() + "\n");
            return ExitCodes.OK;
        }
        if (options.check != null) return checkExternal(options.check, options.request.strict, out, err);
        if (options.inspect != null) return inspect(options.inspect, out, err);
        final boolean strict = options.request.strict;
        try {
            // Said before the output is written, so a failure to write comes last.
            Wrapper.Result result = Wrapper.wrap(options.request, r -> {
                for (String note : r.notes) err.print("qlxwrap: " + note + "\n");
                for (String warning : r.warnings) {
                    err.print("qlxwrap: " + (strict ? "error (--strict)" : "warning") + ": " + warning + "\n");
                }
                return !(strict && !r.warnings.isEmpty());
            });
            return result.written ? ExitCodes.OK : ExitCodes.USAGE;
        } catch (WrapException e) {
            return report(err, e.code(), e.getMessage());
        }
    }

    private static int inspect(String path, PrintStream out, PrintStream err) {
        Inspector.Result r;
        try (Source file = InputFiles.open(path)) {
            r = Inspector.inspect(file, path, InputFiles::isRegularFile);
        } catch (IOException e) {
            return report(err, ExitCodes.UNREADABLE, "cannot read '" + path + "': " + InputFiles.reason(e));
        }
        out.print(r.text);
        return r.code;
    }

    /** A configuration file that is to lie beside a program, checked the way the launcher will read it. */
    private static int checkExternal(String path, boolean strict, PrintStream out, PrintStream err) {
        byte[] file;
        try {
            file = InputFiles.readAll(path);
        } catch (IOException e) {
            return report(err, ExitCodes.UNREADABLE, "cannot read '" + path + "': " + InputFiles.reason(e));
        }
        byte[] block;
        try {
            block = ConfigBlock.build(file);
        } catch (WrapException e) {
            return report(err, ExitCodes.USAGE, path + ": " + e.getMessage());
        }
        String text = Text.raw(block, 3, block.length - 1);
        int errors = 0;
        int warnings = 0;
        String shown = Text.printableText(path);
        for (ConfigCheck.Finding f : ConfigCheck.checkRaw(text, ConfigCheck.Role.EXTERNAL)) {
            if (f.error) ++errors;
            else ++warnings;
            String label = f.error ? "error" : strict ? "error (--strict)" : "warning";
            err.print("qlxwrap: " + shown + ": " + label + ": " + f.text() + "\n");
        }
        out.print(shown + ": " + errors + " error" + (errors == 1 ? "" : "s") + ", " + warnings + " warning"
                + (warnings == 1 ? "" : "s") + "\n");
        return errors == 0 && !(strict && warnings > 0) ? ExitCodes.OK : ExitCodes.USAGE;
    }
}
