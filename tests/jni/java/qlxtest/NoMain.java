package qlxtest;

// A class without main(String[]).
public class NoMain {
    public static void other(String[] args) {
    }
}
