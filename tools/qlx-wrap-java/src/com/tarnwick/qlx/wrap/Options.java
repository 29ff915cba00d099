// The command line of qlx-wrap.jar: qlxwrap's options, same names, same
// messages, plus --platform, since the stubs are built in.
package com.tarnwick.qlx.wrap;

import java.util.List;

final class Options {
    final WrapRequest request = new WrapRequest();
    String stub;
    String platform;
    boolean help;
    boolean version;
    String inspect;
    String check;

    private Options() {}

    static final class Usage extends Exception {
        private static final long serialVersionUID = 1L;

        Usage(String message) {
            super(message + " (see --help)");
        }
    }

    /** Parses the arguments ("--name value" or "--name=value"). */
    static Options parse(List<String> args) throws Usage {
        Options o = new Options();
        WrapRequest r = o.request;
        r.executionLevel = null;
        for (int i = 0; i < args.size(); ++i) {
            String arg = args.get(i);
            String inline = null;
            if (arg.startsWith("--")) {
                int eq = arg.indexOf('=');
                if (eq >= 0) {
                    inline = arg.substring(eq + 1);
                    arg = arg.substring(0, eq);
                }
            }
            if (arg.equals("-h") || arg.equals("--help")) {
                o.help = true;
                continue;
            }
            if (arg.equals("--version")) {
                o.version = true;
                continue;
            }
            if (arg.equals("--utf8-codepage") || arg.equals("--allow-config-errors") || arg.equals("--strict")
                    || arg.equals("--support")) {
                if (inline != null) throw new Usage(arg + " takes no value");
                if (arg.equals("--utf8-codepage")) r.utf8CodePage = true;
                else if (arg.equals("--allow-config-errors")) r.allowConfigErrors = true;
                else if (arg.equals("--strict")) r.strict = true;
                else r.support = true;
                continue;
            }
            Field field = Field.of(arg);
            if (field == null) throw new Usage("unknown option '" + args.get(i) + "'");
            String value;
            if (inline != null) {
                value = inline;
            } else if (i + 1 < args.size()) {
                value = args.get(++i);
            } else {
                throw new Usage(arg + " needs a value");
            }
            field.set(o, arg, value);
        }
        if (o.help || o.version) return o;
        if (o.inspect != null) {
            if (args.size() > 2) throw new Usage("--inspect takes one file and no other option");
            return o;
        }
        if (o.check != null) {
            if (args.size() > (r.strict ? 3 : 2)) throw new Usage("--check takes one file and no other option but --strict");
            return o;
        }
        if (r.strict && r.allowConfigErrors) throw new Usage("--strict and --allow-config-errors cannot be used together");
        if (r.executionLevel != null && !r.executionLevel.equals("asInvoker")
                && !r.executionLevel.equals("requireAdministrator") && !r.executionLevel.equals("highestAvailable")) {
            throw new Usage("--execution-level must be asInvoker, requireAdministrator or highestAvailable");
        }
        if (r.executionLevel == null) r.executionLevel = "asInvoker";
        if (o.platform != null) {
            if (!o.platform.equals("windows") && !o.platform.equals("linux")) {
                throw new Usage("--platform must be windows or linux");
            }
            if (o.stub != null) throw new Usage("--platform chooses a built-in stub: give it or --stub, not both");
            r.platform = o.platform;
        }
        r.stub = o.stub;
        if (r.jar == null) throw new Usage("--jar is required");
        if (r.output == null) throw new Usage("--output is required");
        return o;
    }

    /** The options that take a value, and where each goes. */
    private enum Field {
        STUB("--stub", true), PLATFORM("--platform", true), JAR("--jar", true), CONFIG("--config", true),
        OUTPUT("--output", true), MERGE("--merge", true), ICON("--icon", true), INSPECT("--inspect", true),
        CHECK("--check", true), EXECUTION_LEVEL("--execution-level", true),
        FILE_VERSION("--file-version", false), PRODUCT_VERSION("--product-version", false),
        COMPANY("--company", false), PRODUCT_NAME("--product-name", false),
        FILE_DESCRIPTION("--file-description", false), COPYRIGHT("--copyright", false),
        SERVICE_NAME("--service-name", false), DISPLAY_NAME("--display-name", false),
        DESCRIPTION("--description", false), DEPENDS("--depends", false), START_TYPE("--start-type", false),
        ACCOUNT("--account", false), RECOVERY("--recovery", false), FAIL_ON_EXIT("--fail-on-exit", false);

        final String name;
        /** A file name (or word) that may not be empty; the others are texts that may. */
        final boolean named;

        Field(String name, boolean named) {
            this.name = name;
            this.named = named;
        }

        static Field of(String arg) {
            if (arg.equals("-o")) return OUTPUT;
            for (Field f : values()) {
                if (f.name.equals(arg)) return f;
            }
            return null;
        }

        void set(Options o, String arg, String value) throws Usage {
            WrapRequest r = o.request;
            if (this == MERGE) {
                if (value.isEmpty()) throw new Usage("--merge needs a file name");
                r.merges.add(value);
                return;
            }
            if (named && value.isEmpty()) throw new Usage(arg + " needs a file name");
            String old = get(o);
            if (named ? old != null && !old.isEmpty() : old != null) throw new Usage(arg + " given twice");
            put(o, value);
        }

        private String get(Options o) {
            WrapRequest r = o.request;
            switch (this) {
                case STUB: return o.stub;
                case PLATFORM: return o.platform;
                case JAR: return r.jar;
                case CONFIG: return r.config;
                case OUTPUT: return r.output;
                case ICON: return r.icon;
                case INSPECT: return o.inspect;
                case CHECK: return o.check;
                case EXECUTION_LEVEL: return r.executionLevel;
                case FILE_VERSION: return r.version.fileVersion;
                case PRODUCT_VERSION: return r.version.productVersion;
                case COMPANY: return r.version.company;
                case PRODUCT_NAME: return r.version.productName;
                case FILE_DESCRIPTION: return r.version.fileDescription;
                case COPYRIGHT: return r.version.copyright;
                case SERVICE_NAME: return r.identity.name;
                case DISPLAY_NAME: return r.identity.displayName;
                case DESCRIPTION: return r.identity.description;
                case DEPENDS: return r.identity.dependencies;
                case START_TYPE: return r.identity.startType;
                case ACCOUNT: return r.identity.account;
                case RECOVERY: return r.identity.recovery;
                case FAIL_ON_EXIT: return r.identity.failOnExit;
                default: return null;
            }
        }

        private void put(Options o, String v) {
            WrapRequest r = o.request;
            switch (this) {
                case STUB: o.stub = v; break;
                case PLATFORM: o.platform = v; break;
                case JAR: r.jar = v; break;
                case CONFIG: r.config = v; break;
                case OUTPUT: r.output = v; break;
                case ICON: r.icon = v; break;
                case INSPECT: o.inspect = v; break;
                case CHECK: o.check = v; break;
                case EXECUTION_LEVEL: r.executionLevel = v; break;
                case FILE_VERSION: r.version.fileVersion = v; break;
                case PRODUCT_VERSION: r.version.productVersion = v; break;
                case COMPANY: r.version.company = v; break;
                case PRODUCT_NAME: r.version.productName = v; break;
                case FILE_DESCRIPTION: r.version.fileDescription = v; break;
                case COPYRIGHT: r.version.copyright = v; break;
                case SERVICE_NAME: r.identity.name = v; break;
                case DISPLAY_NAME: r.identity.displayName = v; break;
                case DESCRIPTION: r.identity.description = v; break;
                case DEPENDS: r.identity.dependencies = v; break;
                case START_TYPE: r.identity.startType = v; break;
                case ACCOUNT: r.identity.account = v; break;
                case RECOVERY: r.identity.recovery = v; break;
                case FAIL_ON_EXIT: r.identity.failOnExit = v; break;
                default: break;
            }
        }
    }
}
