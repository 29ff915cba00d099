package good;

/** Bytecode that 45.3 can express: branches, both switch forms, a handler. */
public class Good {
    public static void main(String[] args) {
        int sum = 0;
        for (int i = 0; i < 5; i++) {
            switch (i) {
                case 0: sum += 1; break;
                case 1: sum += 2; break;
                case 2: sum += 4; break;
                default: sum += 8;
            }
            switch (i * 1000) {
                case 0: sum += 100; break;
                case 4000: sum += 200; break;
                default: break;
            }
        }
        try {
            Object o = args.length > 100 ? null : "x";
            sum += o.hashCode() == "x".hashCode() ? 1000 : 0;
            throw new IllegalStateException("caught");
        } catch (IllegalStateException e) {
            sum += e.getMessage().length();
        }
        long big = 1L << 40;
        double d = 2.5;
        System.out.println("good " + sum + " " + (big + (long) d));
    }
}
