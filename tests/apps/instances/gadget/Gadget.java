package gadget;

import java.io.FileOutputStream;
import java.io.IOException;
import java.io.ObjectInputStream;
import java.io.Serializable;

/**
 * A class on the receiver's class path, outside the application's package,
 * whose readObject has an effect: it creates the file it names. An instance
 * must never run it for an object another process sent.
 */
public class Gadget implements Serializable {
    private static final long serialVersionUID = 1L;
    public String path;

    private void readObject(ObjectInputStream in) throws IOException, ClassNotFoundException {
        in.defaultReadObject();
        new FileOutputStream(path).close();
    }
}
