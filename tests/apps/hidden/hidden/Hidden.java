package hidden;

/** Serialisable class that only a dedicated class loader can see. */
public class Hidden implements java.io.Serializable {
    private static final long serialVersionUID = 1L;
    public String text = "hidden value";

    public String toString() {
        return text;
    }
}
