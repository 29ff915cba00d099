package gadget;

/** An interface the receiver's filter refuses, for a proxy to implement. */
public interface Marker {
    String mark();
}
