package classliteral;

/** A class literal compiles to ldc of a class constant, unknown to 45.3. */
public class Literal {
    public static void main(String[] args) {
        System.out.println(String.class.getName());
    }
}
