// The program being written: a new temporary file in the output's
// directory, renamed over the output only once it is complete, so no reader
// ever sees a half-written program and a failed run leaves nothing behind.
package com.tarnwick.qlx.wrap;

import java.io.BufferedOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.nio.ByteBuffer;
import java.nio.channels.Channels;
import java.nio.channels.FileChannel;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.security.SecureRandom;
import java.util.Set;

final class OutputFile {
    private static final String NAME_CHARS = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    private static final boolean POSIX = FileSystems.getDefault().supportedFileAttributeViews().contains("posix");

    private final String output;
    private final Path temporary;
    private final FileChannel channel;
    private final OutputStream stream;
    private final Set<PosixFilePermission> mode;
    private boolean done;

    private OutputFile(String output, Path temporary, FileChannel channel, Set<PosixFilePermission> mode) {
        this.output = output;
        this.temporary = temporary;
        this.channel = channel;
        this.stream = new BufferedOutputStream(Channels.newOutputStream(channel), 1 << 18);
        this.mode = mode;
    }

    private WrapException failure(String what, IOException e) {
        return new WrapException(ExitCodes.UNWRITABLE, "cannot write '" + output + "': " + what
                + (e == null ? "" : ": " + InputFiles.reason(e)));
    }

    /** The directory the output goes into, as written in its name. */
    private static String directoryOf(String output) {
        int slash = output.lastIndexOf('/');
        if (!POSIX) slash = Math.max(slash, output.lastIndexOf('\\'));
        if (slash < 0) return ".";
        return slash == 0 ? output.substring(0, 1) : output.substring(0, slash);
    }

    /** Starts the output; it takes the permission bits of `modeFrom` (rwxr-xr-x without one). */
    static OutputFile create(String output, String modeFrom) throws WrapException {
        String dir = directoryOf(output);
        Set<PosixFilePermission> mode = null;
        if (POSIX) {
            mode = PosixFilePermissions.fromString("rwxr-xr-x");
            if (modeFrom != null) {
                try {
                    mode = Files.getPosixFilePermissions(InputFiles.path(modeFrom));
                } catch (IOException e) {
                    // keep the default
                }
            }
        }
        SecureRandom random = new SecureRandom();
        IOException last = null;
        for (int attempt = 0; attempt < 100; ++attempt) {
            StringBuilder name = new StringBuilder(".qlxwrap-");
            for (int i = 0; i < 6; ++i) name.append(NAME_CHARS.charAt(random.nextInt(NAME_CHARS.length())));
            Path tmp;
            try {
                tmp = InputFiles.path(dir).resolve(name.toString());
                FileChannel ch = FileChannel.open(tmp, StandardOpenOption.CREATE_NEW, StandardOpenOption.WRITE,
                        StandardOpenOption.READ);
                return new OutputFile(output, tmp, ch, mode);
            } catch (java.nio.file.FileAlreadyExistsException e) {
                last = e;
            } catch (IOException e) {
                last = e;
                break;
            }
        }
        throw new WrapException(ExitCodes.UNWRITABLE, "cannot write '" + output + "': cannot create a file in "
                + dir + ": " + InputFiles.reason(last));
    }

    /** Sequential writes, from the first byte on. */
    OutputStream stream() {
        return stream;
    }

    /** Overwrites bytes already written (after the stream is flushed). */
    void patch(long position, byte[] bytes) throws WrapException {
        try {
            stream.flush();
            ByteBuffer b = ByteBuffer.wrap(bytes);
            while (b.hasRemaining()) channel.write(b, position + b.position());
        } catch (IOException e) {
            throw failure("cannot write the output", e);
        }
    }

    void commit() throws WrapException {
        try {
            stream.flush();
        } catch (IOException e) {
            abandon();
            throw failure("cannot write the output", e);
        }
        if (mode != null) {
            try {
                Files.setPosixFilePermissions(temporary, mode);
            } catch (IOException e) {
                abandon();
                throw failure("cannot set the output's permissions", e);
            }
        }
        try {
            channel.force(true);
            channel.close();
        } catch (IOException e) {
            abandon();
            throw failure("cannot write the output", e);
        }
        try {
            Files.move(temporary, InputFiles.path(output), StandardCopyOption.ATOMIC_MOVE);
        } catch (IOException e) {
            abandon();
            throw failure("cannot rename into place", e);
        }
        done = true;
    }

    /** A failed write: the temporary file goes, the exception says why. */
    WrapException writeFailure(IOException e) {
        abandon();
        return failure("cannot write the output", e);
    }

    /** Removes the temporary file of a run that failed. */
    void abandon() {
        if (done) return;
        done = true;
        try {
            channel.close();
        } catch (IOException e) {
            // nothing more to do
        }
        try {
            Files.deleteIfExists(temporary);
        } catch (IOException e) {
            // nothing more to do
        }
    }
}
