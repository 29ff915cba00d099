// What a build plugin (Maven, Gradle) asks for, in its users' terms: the
// typed settings become configuration lines, the runtime dependencies are
// merged or copied beside the program, and every finding names the setting
// or file line it came from.
package com.tarnwick.qlx.wrap;

import java.io.File;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.StandardCopyOption;
import java.util.ArrayList;
import java.util.List;
import java.util.jar.JarFile;
import java.util.jar.Manifest;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

public final class BuildRequest {
    /** How the runtime dependencies reach the program. */
    public enum Dependencies {
        /** Their entries go into the program file (the application's win on a duplicate). */
        MERGE,
        /** They are copied into lib/ beside the program and put on its class path. */
        LIB,
        NONE;

        public static Dependencies of(String word) throws WrapException {
            for (Dependencies d : values()) {
                if (d.name().equalsIgnoreCase(word.trim())) return d;
            }
            throw new WrapException(ExitCodes.USAGE, "dependencies must be merge, lib or none, not '" + word + "'");
        }
    }

    /** Where a setting was written, for messages ("pom.xml line 12, <minJre>"); null when unknown. */
    public interface Origins {
        String of(String setting);
    }

    /** A runtime dependency and the file name it gets in lib/. */
    public static final class Library {
        public final File file;
        public final String name;

        public Library(File file, String name) {
            this.file = file;
            this.name = name;
        }
    }

    /** The wrap itself: stub, output, identity, version, manifest and merges (config is filled here). */
    public final WrapRequest wrap = new WrapRequest();
    public String mainClass;
    public final List<String> options = new ArrayList<String>();
    public String minJre;
    public String maxJre;
    public String singleInstance;
    /** Further configuration lines, as written. */
    public final List<String> configLines = new ArrayList<String>();
    public File configFile;
    public Dependencies dependencies = Dependencies.MERGE;
    public final List<Library> libraries = new ArrayList<Library>();
    public Origins origins = setting -> null;

    private static final class Line {
        final String text;
        final String origin;

        Line(String text, String origin) {
            this.text = text;
            this.origin = origin;
        }
    }

    /** What a run reports: notes and warnings, each with its origin where known. */
    public static final class Outcome {
        public final List<String> warnings = new ArrayList<String>();
        public final List<String> notes = new ArrayList<String>();
        public final List<File> libraries = new ArrayList<File>();
    }

    /** A project version as the four numbers of a version resource: 1.2.3-SNAPSHOT is 1.2.3.0. */
    public static String fourNumbers(String version) {
        long[] parts = new long[4];
        Matcher m = Pattern.compile("^(\\d+)(?:[._-](\\d+))?(?:[._-](\\d+))?(?:[._-](\\d+))?").matcher(version.trim());
        if (m.find()) {
            for (int i = 0; i < 4; ++i) {
                String g = m.group(i + 1);
                if (g != null) parts[i] = g.length() > 5 ? 65535 : Math.min(Long.parseLong(g), 65535);
            }
        }
        return parts[0] + "." + parts[1] + "." + parts[2] + "." + parts[3];
    }

    /** The Main-Class of a JAR's manifest, or null. */
    public static String manifestMainClass(File jar) {
        try (JarFile file = new JarFile(jar)) {
            Manifest m = file.getManifest();
            String main = m == null ? null : m.getMainAttributes().getValue("Main-Class");
            return main == null || main.trim().isEmpty() ? null : main.trim();
        } catch (IOException e) {
            return null;
        }
    }

    private List<Line> lines() throws WrapException {
        List<Line> lines = new ArrayList<Line>();
        String fileText = null;
        if (configFile != null) {
            try {
                fileText = ConfigBlock.decodeText(Files.readAllBytes(configFile.toPath()));
            } catch (IOException e) {
                throw InputFiles.unreadable(configFile.getPath(), "configuration", e);
            } catch (WrapException e) {
                throw new WrapException(e.code(), configFile.getPath() + ": " + e.getMessage());
            }
        }
        String main = mainClass;
        if (main == null && !setsMainClass(configLines) && (fileText == null || !setsMainClass(split(fileText)))) {
            main = manifestMainClass(new File(wrap.jar));
        }
        if (main != null) lines.add(new Line("mainclass " + main, mainClass != null ? origins.of("mainClass") : null));
        for (String o : options) lines.add(new Line("option " + o, origins.of("options")));
        if (minJre != null) lines.add(new Line("minjre " + minJre, origins.of("minJre")));
        if (maxJre != null) lines.add(new Line("maxjre " + maxJre, origins.of("maxJre")));
        if (singleInstance != null) lines.add(new Line("singleinstance " + singleInstance, origins.of("singleInstance")));
        if (dependencies == Dependencies.LIB) {
            for (Library l : libraries) lines.add(new Line("java_classpath lib/" + l.name, origins.of("dependencies")));
        }
        for (String c : configLines) {
            for (String l : split(c)) lines.add(new Line(l, origins.of("config")));
        }
        if (fileText != null) {
            List<String> fileLines = split(fileText);
            for (int i = 0; i < fileLines.size(); ++i) {
                lines.add(new Line(fileLines.get(i), configFile.getPath() + " line " + (i + 1)));
            }
        }
        return lines;
    }

    /** Lines the way the launcher counts them: CR LF, CR and LF each end one. */
    private static List<String> split(String text) {
        List<String> out = new ArrayList<String>();
        for (String l : text.split("\r\n|\r|\n", -1)) out.add(l);
        if (out.size() > 1 && out.get(out.size() - 1).isEmpty()) out.remove(out.size() - 1);
        return out;
    }

    private static boolean setsMainClass(List<String> lines) {
        for (String l : lines) {
            String value = ConfigCheck.firstValue(l, "mainclass");
            if (value != null) return !value.isEmpty();
        }
        return false;
    }

    private static final Pattern LINE = Pattern.compile("configuration line (\\d+): ");

    private static String withOrigin(String message, List<Line> lines, Origins origins) {
        Matcher m = LINE.matcher(message);
        String origin = null;
        if (m.find()) {
            int n = Integer.parseInt(m.group(1));
            if (n >= 1 && n <= lines.size()) origin = lines.get(n - 1).origin;
        } else if (message.contains("no mainclass")) {
            origin = origins.of("mainClass");
        } else if (message.contains("is in neither the JAR")) {
            // The class the first mainclass line names, wherever that line came from.
            for (Line l : lines) {
                if (ConfigCheck.firstValue(l.text, "mainclass") != null) {
                    origin = l.origin;
                    break;
                }
            }
        }
        return origin == null ? message : message + " [" + origin + "]";
    }

    /** Writes the program (and lib/ beside it); failures carry the generator's message and the origin. */
    public Outcome run() throws WrapException {
        List<Line> lines = lines();
        StringBuilder text = new StringBuilder();
        for (Line l : lines) text.append(l.text).append('\n');
        wrap.config = null;
        wrap.configText = text.toString();
        wrap.merges.clear();
        if (dependencies == Dependencies.MERGE) {
            for (Library l : libraries) wrap.merges.add(l.file.getPath());
        }
        Outcome outcome = new Outcome();
        Wrapper.Result result;
        try {
            result = Wrapper.wrap(wrap);
        } catch (WrapException e) {
            throw new WrapException(e.code(), withOrigin(e.getMessage(), lines, origins));
        }
        for (String note : result.notes) {
            String shown = withOrigin(note, lines, origins);
            if (note.startsWith("note: ")) outcome.notes.add(shown);
            else outcome.warnings.add(shown);
        }
        for (String warning : result.warnings) outcome.warnings.add(withOrigin("warning: " + warning, lines, origins));
        if (!result.written) {
            // Strict: the warnings are the failure, so the build log shows each with its origin.
            StringBuilder message = new StringBuilder("strict: warnings count as errors, nothing was written");
            for (String w : outcome.warnings) message.append("\n  ").append(w);
            throw new WrapException(ExitCodes.USAGE, message.toString());
        }
        if (dependencies == Dependencies.LIB) copyLibraries(outcome);
        return outcome;
    }

    private void copyLibraries(Outcome outcome) throws WrapException {
        File lib = new File(new File(wrap.output).getAbsoluteFile().getParentFile(), "lib");
        if (!lib.isDirectory() && !lib.mkdirs()) {
            throw new WrapException(ExitCodes.UNWRITABLE, "cannot create '" + lib + "'");
        }
        for (Library l : libraries) {
            File to = new File(lib, l.name);
            try {
                Files.copy(l.file.toPath(), to.toPath(), StandardCopyOption.REPLACE_EXISTING);
            } catch (IOException e) {
                throw new WrapException(ExitCodes.UNWRITABLE, "cannot write '" + to + "': " + InputFiles.reason(e));
            }
            outcome.libraries.add(to);
        }
    }
}
