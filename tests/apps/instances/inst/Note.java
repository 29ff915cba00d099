package inst;

import java.io.Serializable;

/** An object of the application's own package: accepted by default. */
public class Note implements Serializable {
    private static final long serialVersionUID = 1L;
    public String text;

    public Note(String text) {
        this.text = text;
    }

    public String toString() {
        return "note:" + text;
    }
}
