package vmtext;

import com.tarnwick.qlx.ServiceStatusManager;

/**
 * What a VM makes of text: lines on both standard streams, texts that reach
 * Java from the launcher (the program's path, a configured property, the
 * arguments) with their characters beyond ASCII as code points, and the
 * launcher's natives loaded from the program's path.
 */
public class TextCheck {
    static String beyondAscii(String text) {
        if (text == null) {
            return " <null>";
        }
        StringBuilder codes = new StringBuilder();
        for (int i = 0; i < text.length(); i++) {
            if (text.charAt(i) >= 0x80) {
                codes.append(' ').append(Integer.toHexString(text.charAt(i)));
            }
        }
        return codes.toString();
    }

    public static void main(String[] args) {
        System.out.println("path beyond ASCII:" + beyondAscii(System.getProperty("qlx.app.path")));
        System.out.println("option beyond ASCII:" + beyondAscii(System.getProperty("vmtext.option")));
        // The first use of the class loads the natives from qlx.app.path.
        System.out.println("natives loaded, service: " + ServiceStatusManager.isRunAsService);
        System.err.println("a line on standard error");
        for (int i = 0; i < args.length; i++) {
            System.out.println("arg beyond ASCII:" + beyondAscii(args[i]));
        }
    }
}
