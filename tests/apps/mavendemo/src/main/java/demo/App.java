// A program with one real runtime dependency (commons-lang3), for the
// build plugin tests: its first line shows that the dependency's classes
// were found, whichever way they reached the class path.
package demo;
import org.apache.commons.lang3.ArrayUtils;
import org.apache.commons.lang3.BooleanUtils;
import org.apache.commons.lang3.math.NumberUtils;
import org.apache.commons.lang3.tuple.Pair;
public class App {
    public static void main(String[] args) {
        String[] copy = args.clone();
        ArrayUtils.reverse(copy);
        StringBuilder joined = new StringBuilder();
        for (String s : copy) joined.append(joined.length() == 0 ? "" : ",").append(s);
        System.out.println("max " + NumberUtils.max(3, 7, 5) + ", " + BooleanUtils.toStringYesNo(true) + ", "
            + Pair.of("left", 2) + ", reversed " + joined);
        System.out.println("vm " + System.getProperty("java.vm.name"));
    }
}
