package probe;

/** main exists but is not static, which does not make an entry point. */
public class InstanceMain {
    public void main(String[] args) {
        System.out.println("must not run");
    }
}
