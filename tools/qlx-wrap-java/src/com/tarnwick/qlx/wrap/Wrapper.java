// Assembling a wrapped program: stub (with its archive length slot and, for
// Windows stubs, its resources filled in), configuration block, block
// length, digest, archive. Everything before the archive is built in
// memory; the archive streams from its files into the output, and the
// digest and the PE checksum are computed on the way and written last.
//
// The archive goes in unchanged (offsets relative to its own first byte):
// the JDK's zip reader takes the archive start from where the central
// directory really lies, so it finds every entry with the stub and the
// configuration in front. Zip64 archives are refused: the launcher reads
// lengths as 32-bit values.
package com.tarnwick.qlx.wrap;

import java.io.IOException;
import java.io.OutputStream;
import java.util.ArrayList;
import java.util.List;
import java.util.TreeMap;

public final class Wrapper {
    private static final int IDENTITY_BLOCK = 17; // ids 256..271
    private static final long MAX_FILE_SIZE = 0x7FFFFFFFL; // the launcher reads sizes as 32-bit signed
    private static final int SECURITY_DIRECTORY = 4;

    private Wrapper() {}

    /** What a run reports besides failures, one line each. */
    public static final class Result {
        /** What the generator decided or noticed (errors allowed included). */
        public final List<String> notes = new ArrayList<String>();
        /** Mistakes that did not stop the generator; strict, they do. */
        public final List<String> warnings = new ArrayList<String>();
        /** False when the program was not written because warnings count as errors. */
        public boolean written;
    }

    /** Hears what a run found before anything is written. */
    public interface Report {
        /** False stops the run, with nothing written. */
        boolean proceed(Result result);
    }

    private static WrapException fail(int code, String message) {
        return new WrapException(code, message);
    }

    /** Writes the program `request` describes; strict, warnings leave it unwritten (see Result.written). */
    public static Result wrap(WrapRequest request) throws WrapException {
        return wrap(request, r -> !(request.strict && !r.warnings.isEmpty()));
    }

    /** Writes the program `request` describes, once `report` has heard the findings and agrees. */
    public static Result wrap(WrapRequest request, Report report) throws WrapException {
        List<Source> open = new ArrayList<Source>();
        try {
            return wrap(request, report, open);
        } finally {
            for (Source s : open) {
                try {
                    s.close();
                } catch (IOException e) {
                    // read only
                }
            }
        }
    }

    private static Result wrap(WrapRequest in, Report report, List<Source> open) throws WrapException {
        // Inputs in a fixed order, so the first unreadable one is the one named.
        byte[] stub;
        if (in.stub != null) {
            stub = InputFiles.readInput(in.stub, "stub");
        } else {
            stub = BuiltIn.stub(in.platform);
            if (stub == null) {
                throw fail(ExitCodes.UNREADABLE, "this qlx-wrap.jar carries no " + in.platform + " stub: give --stub");
            }
        }
        Source jar = InputFiles.openInput(in.jar, "JAR");
        open.add(jar);
        byte[] config = new byte[0];
        if (in.config != null) config = InputFiles.readInput(in.config, "configuration");
        List<Source> merges = new ArrayList<Source>();
        List<String> mergeNames = new ArrayList<String>();
        byte[] support = null;
        if (in.support) {
            support = BuiltIn.supportClasses();
            if (support == null) throw fail(ExitCodes.UNREADABLE, "--support: this qlx-wrap.jar carries no qlx-support.jar");
        }
        for (String m : in.merges) {
            Source s = InputFiles.openInput(m, "merged archive");
            open.add(s);
            merges.add(s);
            mergeNames.add(m);
        }
        // The support classes come last: the application and its own
        // libraries win on a duplicate name.
        if (support != null) {
            merges.add(Source.of(support));
            mergeNames.add("qlx-support.jar");
        }
        byte[] icon = in.icon != null ? InputFiles.readInput(in.icon, "icon") : null;

        byte[] block = ConfigBlock.build(in.configText != null ? in.configText.getBytes(Text.UTF8) : config);
        Archive archive = archive(jar, in.jar, merges, mergeNames);

        Result result = new Result();
        if (PeImage.isPe(stub)) {
            stub = removeSignature(stub, result.notes);
            stub = writeAppResources(stub, in, icon);
        } else if (in.identity.any() || icon != null || in.version.any()) {
            result.notes.add("note: the stub is not a Windows executable; the service, icon and version options "
                    + "are ignored");
        }
        fillArchiveSlot(stub, archive.length);
        // After the inputs' own faults, so each of those keeps its exit code.
        // The block is mark + text + NUL.
        String text = Text.raw(block, 3, block.length - 1);
        byte[] mainClassLine = Text.bytes(MainClass.settle(archive.entries(), text, result));
        if (mainClassLine.length > 0) {
            byte[] longer = new byte[block.length + mainClassLine.length];
            System.arraycopy(block, 0, longer, 0, 3);
            System.arraycopy(mainClassLine, 0, longer, 3, mainClassLine.length);
            System.arraycopy(block, 3, longer, 3 + mainClassLine.length, block.length - 3);
            block = longer;
        }
        for (ConfigCheck.Finding f : ConfigCheck.checkRaw(text, ConfigCheck.Role.EMBEDDED)) {
            // Line numbers name the author's lines, so the check reads the text as given.
            if (f.kind == Findings.NO_MAIN_CLASS && mainClassLine.length > 0) continue;
            String where = (f.line > 0 ? "configuration " : "configuration: ") + f.text();
            if (f.error && !in.allowConfigErrors) throw fail(ExitCodes.USAGE, where);
            if (f.error) result.notes.add("error (allowed): " + where);
            else result.warnings.add(where);
        }
        long total = (long) stub.length + block.length + 4 + Digest.SIZE + archive.length;
        if (total > MAX_FILE_SIZE) throw fail(ExitCodes.BAD_ARCHIVE, "wrapped program would be larger than 2 GB");
        checkConfigLocation(in, result.warnings);
        if (!report.proceed(result)) return result;
        byte[] head = new byte[stub.length + block.length + 4];
        System.arraycopy(stub, 0, head, 0, stub.length);
        System.arraycopy(block, 0, head, stub.length, block.length);
        Bytes.put32(head, stub.length + block.length, block.length);
        write(in, head, archive, total);
        result.written = true;
        return result;
    }

    /**
     * The output's external configuration files, in the order the launcher
     * tries them: program.exe.cfg, program.exe.config, program.cfg, program.config.
     */
    static List<String> externalConfigNames(String output) {
        int sep = Math.max(output.lastIndexOf('/'), output.lastIndexOf('\\'));
        int dot = output.lastIndexOf('.');
        List<String> names = new ArrayList<String>();
        names.add(output + ".cfg");
        names.add(output + ".config");
        if (dot >= 0 && dot > sep) {
            names.add(output.substring(0, dot) + ".cfg");
            names.add(output.substring(0, dot) + ".config");
        }
        return names;
    }

    /**
     * A configuration source kept where the program reads its external file
     * is read twice: once embedded, and again beside it at every start.
     * Compared as files, not as names: relative paths, links and the case of
     * a Windows name all lead to the same file.
     */
    private static void checkConfigLocation(WrapRequest in, List<String> warnings) {
        if (in.config == null || in.configText != null) return;
        for (String candidate : externalConfigNames(in.output)) {
            if (InputFiles.sameFile(in.config, candidate)) {
                warnings.add(Findings.CONFIG_BESIDE_OUTPUT.message(Text.printableText(in.config),
                        Text.printableText(fileName(in.output))));
                return;
            }
        }
    }

    /** The archive that goes in: the application's (without its comment), or the merged one. */
    private static final class Archive {
        ZipArchive.View app;
        ZipArchive.Merge merge;
        long length;

        /** Its entries, in order (duplicate names of merged archives left out). */
        List<ZipArchive.Piece> entries() {
            if (merge != null) return merge.pieces;
            List<ZipArchive.Piece> out = new ArrayList<ZipArchive.Piece>();
            for (ZipArchive.Entry e : app.entries) out.add(new ZipArchive.Piece(app, e));
            return out;
        }

        void writeTo(ZipArchive.Sink sink) throws IOException {
            byte[] buffer = new byte[1 << 18];
            if (merge == null) {
                ZipArchive.writeWithoutComment(app, sink, buffer);
            } else {
                ZipArchive.writeMerged(merge, sink, buffer);
            }
        }
    }

    private static Archive archive(Source jar, String jarName, List<Source> merges, List<String> names)
            throws WrapException {
        Archive a = new Archive();
        try {
            a.app = ZipArchive.parse(jar, jarName);
            if (merges.isEmpty()) {
                a.length = a.app.lengthWithoutComment();
                return a;
            }
            List<ZipArchive.View> views = new ArrayList<ZipArchive.View>();
            views.add(a.app);
            for (int i = 0; i < merges.size(); ++i) views.add(ZipArchive.parse(merges.get(i), names.get(i)));
            a.merge = ZipArchive.plan(views);
            a.length = a.merge.length();
            return a;
        } catch (IOException e) {
            throw fail(ExitCodes.UNREADABLE, "cannot read '" + jarName + "': " + InputFiles.reason(e));
        }
    }

    /**
     * A signature vouches for the stub's bytes as they were; after wrapping
     * it would vouch for nothing, and its table would point into the
     * payload. The output has to be signed again anyway, so it goes.
     */
    private static byte[] removeSignature(byte[] stub, List<String> notes) throws WrapException {
        PeImage pe;
        try {
            pe = PeImage.parse(stub);
        } catch (PeImage.NotPe e) {
            return stub;
        }
        if (pe.directoryCount <= SECURITY_DIRECTORY) return stub;
        long offset = pe.directoryAddress(stub, SECURITY_DIRECTORY);
        long size = pe.directorySize(stub, SECURITY_DIRECTORY);
        if (offset == 0 && size == 0) return stub;
        if (offset < pe.imageEnd() || !Bytes.inside(stub.length, offset, size)) {
            throw fail(ExitCodes.BAD_STUB, "stub's certificate table lies outside its appended data");
        }
        byte[] out = new byte[(int) (stub.length - size)];
        System.arraycopy(stub, 0, out, 0, (int) offset);
        System.arraycopy(stub, (int) (offset + size), out, (int) offset, (int) (stub.length - offset - size));
        Bytes.put32(out, pe.dataDirectories + 8L * SECURITY_DIRECTORY, 0);
        Bytes.put32(out, pe.dataDirectories + 8L * SECURITY_DIRECTORY + 4, 0);
        notes.add("note: the stub was signed; its certificate (" + size + " bytes) was removed: sign the output again");
        return out;
    }

    /** Every resource change goes through one read of the stub's tree and one rewrite of its section. */
    private static byte[] writeAppResources(byte[] stub, WrapRequest in, byte[] icon) throws WrapException {
        ResourceTree tree;
        try {
            tree = ResourceTree.read(stub);
        } catch (ResourceTree.Damaged e) {
            throw fail(ExitCodes.BAD_RESOURCES, "cannot read the stub's resources: " + e.getMessage());
        }
        writeIdentity(tree, in);
        if (icon != null) {
            try {
                IconGroup.set(tree, icon);
            } catch (IconGroup.NotIcon e) {
                throw fail(ExitCodes.BAD_ICON, "--icon: " + e.getMessage());
            }
        }
        if (in.version.any()) tree.set(ResourceTree.RT_VERSION, 1, VersionResource.build(in.version, fileName(in.output)));
        tree.set(ResourceTree.RT_MANIFEST, 1,
                VersionResource.manifest(in.executionLevel, in.utf8CodePage).getBytes(Text.UTF8));
        try {
            return tree.writeInto(stub);
        } catch (ResourceTree.Damaged e) {
            throw fail(ExitCodes.BAD_RESOURCES, "cannot rewrite the stub's resources: " + e.getMessage());
        }
    }

    static String fileName(String output) {
        int sep = Math.max(output.lastIndexOf('/'), output.lastIndexOf('\\'));
        return sep < 0 ? output : output.substring(sep + 1);
    }

    /** The service name used when none is given: the output's file name without a ".exe" ending. */
    public static String defaultServiceName(String output) {
        String name = fileName(output);
        if (name.length() > 4 && Text.lowerAscii(name.substring(name.length() - 4)).equals(".exe")) {
            name = name.substring(0, name.length() - 4);
        }
        return name;
    }

    private static void writeIdentity(ResourceTree tree, WrapRequest in) throws WrapException {
        WrapRequest.Identity id = in.identity;
        String name = id.name != null ? id.name : defaultServiceName(in.output);
        if (name.isEmpty()) throw fail(ExitCodes.USAGE, "--service-name must not be empty");
        if (name.getBytes(Text.UTF8).length > 255) {
            throw fail(ExitCodes.USAGE, "--service-name is longer than the 255 bytes Windows allows");
        }
        if (name.indexOf('/') >= 0 || name.indexOf('\\') >= 0) {
            throw fail(ExitCodes.USAGE, "--service-name must not contain '/' or '\\'");
        }
        TreeMap<Integer, String> repl = new TreeMap<Integer, String>();
        repl.put(0, name);
        repl.put(1, id.displayName != null ? id.displayName : name);
        repl.put(2, id.description != null ? id.description : "");
        repl.put(3, id.dependencies != null ? id.dependencies : "");
        String settings = settingsText(id);
        if (!settings.isEmpty()) repl.put(4, settings);
        try {
            StringBlock.patch(tree, IDENTITY_BLOCK, repl);
        } catch (ResourceTree.Damaged e) {
            throw fail(ExitCodes.BAD_IDENTITY, "cannot write the service texts into the stub: " + e.getMessage());
        }
    }

    /** The install-time defaults as the launcher reads them back ("key=value" lines, string 260). */
    private static String settingsText(WrapRequest.Identity id) throws WrapException {
        String[][] settings = {
            {id.startType, "start", "--start-type"}, {id.account, "account", "--account"},
            {id.recovery, "recovery", "--recovery"}, {id.failOnExit, "failonexit", "--fail-on-exit"},
        };
        StringBuilder text = new StringBuilder();
        for (String[] s : settings) {
            if (s[0] == null) continue;
            String line = s[1] + "=" + s[0];
            String why = s[0].isEmpty() || s[0].indexOf('\r') >= 0 || s[0].indexOf('\n') >= 0 ? ""
                    : ServiceSettings.lineProblem(Text.rawOf(line));
            if (why != null) {
                throw fail(ExitCodes.USAGE, s[2] + " '" + s[0] + "' is not valid" + (why.isEmpty() ? "" : ": " + why));
            }
            for (int i = 0; i < line.length(); ++i) {
                if (line.charAt(i) >= 0x80) throw fail(ExitCodes.USAGE, s[2] + " must be ASCII text");
            }
            text.append(line).append('\n');
        }
        return text.toString();
    }

    private static void fillArchiveSlot(byte[] stub, long archiveLength) throws WrapException {
        long marker;
        try {
            marker = Payload.findArchiveSlot(Source.of(stub));
        } catch (IOException e) {
            marker = -1;
        }
        if (marker < 0) throw fail(ExitCodes.BAD_STUB, "stub has no archive length slot: it is not a qlx launcher");
        int slot = (int) marker - 8;
        for (int i = 0; i < 8; ++i) {
            if (stub[slot + i] != 0) throw fail(ExitCodes.BAD_STUB, "stub already carries a payload: wrap the bare launcher");
        }
        Bytes.put64(stub, slot, archiveLength);
    }

    /**
     * Writes head, digest and archive, feeding the digest and the PE
     * checksum as the bytes go by, then puts both in place.
     */
    private static void write(WrapRequest in, byte[] head, Archive archive, long total) throws WrapException {
        final long digestAt = head.length;
        final Digest.Hasher hasher = new Digest.Hasher();
        final long[] wordSum = {0};
        int checksumAt = -1;
        try {
            PeImage pe = PeImage.parse(head, total);
            if (Bytes.inside(total, pe.checksumOffset, 4)) checksumAt = pe.checksumOffset;
        } catch (PeImage.NotPe e) {
            // not a Windows program: no checksum
        }
        try {
            List<long[]> ranges = Digest.coveredRanges(Source.of(head), digestAt, 0, total);
            for (long[] r : ranges) {
                long end = Math.min(r[1], digestAt);
                if (r[0] < end) hasher.update(head, (int) r[0], (int) (end - r[0]));
            }
        } catch (IOException e) {
            throw fail(ExitCodes.BAD_ARCHIVE, "the launcher would not read this payload back (" + e + ")");
        }
        for (int i = 0; i < head.length; ++i) {
            int word = i & ~1;
            if (checksumAt >= 0 && (word == checksumAt || word == checksumAt + 2)) continue;
            wordSum[0] += (head[i] & 0xFF) << (8 * (i & 1));
        }
        OutputFile out = OutputFile.create(in.output, in.stub);
        try {
            final OutputStream stream = out.stream();
            stream.write(head);
            stream.write(new byte[Digest.SIZE]);
            final long[] at = {digestAt + Digest.SIZE};
            archive.writeTo((b, off, len) -> {
                stream.write(b, off, len);
                hasher.update(b, off, len);
                wordSum[0] += wordSum(b, off, len, at[0]);
                at[0] += len;
            });
        } catch (IOException e) {
            throw out.writeFailure(e);
        }
        byte[] digest = hasher.finish();
        out.patch(digestAt, digest);
        if (checksumAt >= 0) {
            long sum = wordSum[0] + wordSum(digest, 0, digest.length, digestAt);
            long folded = sum == 0 ? 0 : (sum - 1) % 0xFFFF + 1;
            byte[] checksum = new byte[4];
            Bytes.put32(checksum, 0, folded + total);
            out.patch(checksumAt, checksum);
        }
        out.commit();
    }

    /** The sum of the little-endian 16-bit words these bytes fall into at file offset `at`. */
    private static long wordSum(byte[] b, int off, int len, long at) {
        long sum = 0;
        int i = off;
        int end = off + len;
        if (i < end && (at & 1) != 0) {
            sum += (b[i++] & 0xFF) << 8;
        }
        for (; i + 1 < end; i += 2) sum += (b[i] & 0xFF) | (b[i + 1] & 0xFF) << 8;
        if (i < end) sum += b[i] & 0xFF;
        return sum;
    }
}
