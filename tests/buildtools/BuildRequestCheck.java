// Drives the build plugins' shared part without a build tool: prints what
// BuildRequest makes of project versions, and the messages of one wrap
// whose configuration comes from settings, lines and a file.
//   fourNumbers VERSION...
//   wrap JAR OUTPUT CONFIGFILE CONFIGLINE [MINJRE]
import com.tarnwick.qlx.wrap.BuildRequest;
import com.tarnwick.qlx.wrap.WrapException;
import java.io.File;

public final class BuildRequestCheck {
    public static void main(String[] a) {
        if (a[0].equals("fourNumbers")) {
            for (int i = 1; i < a.length; ++i) System.out.println(a[i] + " -> " + BuildRequest.fourNumbers(a[i]));
            return;
        }
        BuildRequest r = new BuildRequest();
        r.wrap.jar = a[1];
        r.wrap.output = a[2];
        r.configFile = new File(a[3]);
        r.configLines.add(a[4]);
        if (a.length > 5) r.minJre = a[5];
        r.options.add("-Xmx64m");
        r.origins = setting -> "setting " + setting;
        try {
            BuildRequest.Outcome o = r.run();
            for (String w : o.warnings) System.out.println("warning " + w);
            System.out.println("written");
        } catch (WrapException e) {
            System.out.println("failed " + e.code() + " " + e.getMessage());
        }
    }
}
