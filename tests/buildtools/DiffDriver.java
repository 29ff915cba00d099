// Runs many qlx-wrap.jar command lines in one JVM, for the differential
// test: each case folder holds "args" (the arguments, NUL-separated UTF-8);
// the run leaves java.stdout, java.stderr and java.code beside it.
import java.io.ByteArrayOutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;

public final class DiffDriver {
    public static void main(String[] argv) throws Exception {
        for (String line : Files.readAllLines(Paths.get(argv[0]), StandardCharsets.UTF_8)) {
            if (line.isEmpty()) continue;
            Path dir = Paths.get(line);
            String raw = new String(Files.readAllBytes(dir.resolve("args")), StandardCharsets.UTF_8);
            String[] args = raw.isEmpty() ? new String[0] : raw.split("\0", -1);
            ByteArrayOutputStream out = new ByteArrayOutputStream();
            ByteArrayOutputStream err = new ByteArrayOutputStream();
            int code = com.tarnwick.qlx.wrap.Main.run(args, out, err);
            Files.write(dir.resolve("java.stdout"), out.toByteArray());
            Files.write(dir.resolve("java.stderr"), err.toByteArray());
            Files.write(dir.resolve("java.code"), String.valueOf(code).getBytes(StandardCharsets.UTF_8));
        }
    }
}
