// Reading and writing the generator's files, with the reasons a failure
// gives in the words of the system's own error texts, so both generators
// report a missing or unreadable file alike.
package com.tarnwick.qlx.wrap;

import java.io.IOException;
import java.nio.channels.FileChannel;
import java.nio.file.AccessDeniedException;
import java.nio.file.DirectoryNotEmptyException;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.NotDirectoryException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.BasicFileAttributes;

final class InputFiles {
    private InputFiles() {}

    static String reason(IOException e) {
        if (e instanceof NoSuchFileException) return "No such file or directory";
        if (e instanceof AccessDeniedException) return "Permission denied";
        if (e instanceof FileAlreadyExistsException) return "File exists";
        if (e instanceof NotDirectoryException) return "Not a directory";
        if (e instanceof DirectoryNotEmptyException) return "Directory not empty";
        if (e instanceof FileSystemException && ((FileSystemException) e).getReason() != null) {
            return ((FileSystemException) e).getReason();
        }
        return e.getMessage() != null ? e.getMessage() : e.getClass().getSimpleName();
    }

    static Path path(String name) throws IOException {
        try {
            return Paths.get(name);
        } catch (java.nio.file.InvalidPathException e) {
            throw new IOException("Invalid argument");
        }
    }

    /** Opens a regular file for reading by position. */
    static Source open(String name) throws IOException {
        Path p = path(name);
        BasicFileAttributes a = Files.readAttributes(p, BasicFileAttributes.class);
        if (!a.isRegularFile()) throw new IOException("not a regular file");
        return Source.of(FileChannel.open(p, StandardOpenOption.READ));
    }

    static byte[] readAll(String name) throws IOException {
        try (Source s = open(name)) {
            if (s.size() > Integer.MAX_VALUE - 16) throw new IOException("File too large");
            return s.read(0, (int) s.size());
        }
    }

    /** Both names lead to one existing file, whatever links or spellings lead there. */
    static boolean sameFile(String a, String b) {
        try {
            return Files.isSameFile(path(a), path(b));
        } catch (IOException | SecurityException e) {
            return false;
        }
    }

    static boolean isRegularFile(String name) {
        try {
            return Files.isRegularFile(path(name));
        } catch (IOException e) {
            return false;
        }
    }

    /** Reads an input the wrap needs; a failure ends the run with exit code 2. */
    static byte[] readInput(String name, String what) throws WrapException {
        try {
            return readAll(name);
        } catch (IOException e) {
            throw unreadable(name, what, e);
        }
    }

    static Source openInput(String name, String what) throws WrapException {
        try {
            return open(name);
        } catch (IOException e) {
            throw unreadable(name, what, e);
        }
    }

    static WrapException unreadable(String name, String what, IOException e) {
        String label = what == null ? "" : what + " ";
        return new WrapException(ExitCodes.UNREADABLE, "cannot read " + label + "'" + name + "': " + reason(e));
    }
}
