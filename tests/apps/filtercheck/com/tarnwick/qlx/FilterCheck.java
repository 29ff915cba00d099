package com.tarnwick.qlx;

/**
 * Asks the instance filter about classes: each argument "FILTER|CLASS"
 * prints "admit", "refuse" or "error: MESSAGE" on a line of its own.
 */
public class FilterCheck {
    public static void main(String[] args) {
        for (int i = 0; i < args.length; i++) {
            int bar = args[i].lastIndexOf('|');
            try {
                InstanceFilter filter = new InstanceFilter(null, args[i].substring(0, bar));
                System.out.println(filter.admits(args[i].substring(bar + 1)) ? "admit" : "refuse");
            } catch (ClassNotFoundException e) {
                System.out.println("error: " + e.getMessage());
            }
        }
    }
}
