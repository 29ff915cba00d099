// Prints, for each argument, what the Java generator's instancefilter
// grammar refuses it for (empty when it takes it) and whether the
// configuration check finds the line an error: "PROBLEM|error" or "PROBLEM|ok".
// In the generator's package, since the grammar is not public.
package com.tarnwick.qlx.wrap;

public final class FilterGrammarCheck {
    public static void main(String[] filters) {
        for (String f : filters) {
            boolean error = false;
            for (ConfigCheck.Finding finding : ConfigCheck.check("mainclass a.B\ninstancefilter " + f, ConfigCheck.Role.EMBEDDED)) {
                error |= finding.error;
            }
            System.out.println(FilterGrammar.problem(Text.rawOf(f)) + "|" + (error ? "error" : "ok"));
        }
    }
}
