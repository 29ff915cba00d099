package qlxtest;

// main(String[]) exists but is not static.
public class InstanceMain {
    public void main(String[] args) {
    }
}
