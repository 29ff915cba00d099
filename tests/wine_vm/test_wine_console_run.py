"""The console run (/test) of the Windows launcher against the stand-in VM:
arguments, the options the VM receives, the environment it sees, system
properties, the failures of the launch sequence with their texts and exit
codes, and the shutdown of the VM afterwards."""
import pytest

from wine_vm_support import place_double, win

MESSAGES = {
    1: "Java Runtime Environment not found.",
    2: "Java Runtime Environment not valid.",
    4: "Java Virtual Machine starts failed.",
    5: "Can not get the virtual machine version.",
    7: "The main startup class could not be found.",
    8: "The main startup class is not valid, main method missing.",
}


@pytest.fixture
def app(make_app, tmp_path):
    """app(config) -> App with the double as ./jre/bin/client/jvm.dll."""
    def make(config="", main="sample.Main"):
        place_double(tmp_path / "app" / "jre" / "bin" / "client" / "jvm.dll")
        (tmp_path / "app" / "bad.dll").write_bytes(b"not a library")
        return make_app((f"mainclass {main}\n" if main else "") + config)
    return make


def test_arguments_follow_the_configured_ones(app):
    a = app('argv -a "b c" d\\"e\nargv second')
    r = a.run("/test", "x", "y z", script="print-args")
    assert r.returncode == 0, r.explain()
    assert r.lines("main arg=") == ["-a", "b c", 'd"e', "second", "x", "y z"]
    assert r.stdout.splitlines() == ["-a", "b c", 'd"e', "second", "x", "y z"]
    assert r.lines("main class=") == ["sample/Main argc=6"]


def test_options_in_order_with_the_class_path_first_on_the_executable(app):
    a = app("option -Xmx64m\noption -Dspaced=a b\n")
    r = a.run("/test")
    assert r.returncode == 0, r.explain()
    exe = win(a.exe)
    assert r.log[:2] == ["entry JNI_CreateJavaVM", r.log[1]]
    assert r.lines("create ") == ["version=0x10002 ignoreUnrecognized=1"]
    opts = r.options
    assert opts[:6] == ["-Xmx64m", "-Dspaced=a b", f"-Djava.class.path={exe};",
                        f"-Dqlx.class.path={exe};", f"-Dqlx.app.path={exe}",
                        f"-Dapplication.home={win(a.dir)}\\"]
    # Wine's token answers "elevated" (the default prefix user is an
    # administrator), so the launcher must say so; nothing follows it.
    assert opts[6:] == ["-Dqlx.is.elevated=true"]


def test_class_path_gathers_configured_entries_after_the_executable(app, tmp_path):
    a = app("classpath lib\\x.jar\njava_classpath first.jar\nlibs lib\n")
    (a.dir / "lib").mkdir()
    (a.dir / "lib" / "y.jar").write_bytes(b"")
    (a.dir / "lib" / "loop").symlink_to(".")  # one directory, walked once
    r = a.run("/test", env={"CLASSPATH": "Q:\\env.jar"})
    assert r.returncode == 0, r.explain()
    home = win(a.dir) + "\\"
    # First half (executable, java_classpath), ";", second half (";" before
    # each classpath entry, the archives below libs, then the environment).
    cp = f"{win(a.exe)};{home}first.jar;;{home}lib\\x.jar;{home}lib/y.jar;Q:\\env.jar"
    assert f"-Djava.class.path={cp}" in r.options
    assert f"-Dqlx.class.path={cp}" in r.options


@pytest.mark.parametrize("config, inherited, seen", [
    ("", "-Dinherited=1", "env JAVA_TOOL_OPTIONS unset"),
    ("export java_tool_options=-Dmine=1\n", "-Dinherited=1", "env JAVA_TOOL_OPTIONS=-Dmine=1"),
    ("export OTHER=1\n", None, "env JAVA_TOOL_OPTIONS unset"),
])
def test_java_tool_options_never_inherited(app, config, inherited, seen):
    a = app(config)
    r = a.run("/test", env={"JAVA_TOOL_OPTIONS": inherited})
    assert r.returncode == 0, r.explain()
    assert seen in r.log


def test_export_lines_reach_the_vm_environment(app):
    a = app("export QLX_A=one two\nexport QLX_GONE=\nexport QLX_KEPT\n")
    r = a.run("/test", env={"QLX_JVM_LOG_ENV": "QLX_A;QLX_GONE;QLX_KEPT",
                            "QLX_GONE": "old", "QLX_KEPT": "old"})
    assert r.returncode == 0, r.explain()
    assert {"env QLX_A=one two", "env QLX_GONE unset", "env QLX_KEPT=old"} <= set(r.log)


def test_properties_set_in_order_after_creation(app):
    a = app("property a=b=c\nproperty bare\nproperty app.x=1\n")
    r = a.run("/test", script="print-property a;print-property qlx.app.path")
    assert r.returncode == 0, r.explain()
    assert r.lines("setProperty ") == ["a=b=c", "bare=", "app.x=1"]
    assert r.log.index("created") < r.log.index("setProperty a=b=c")
    assert r.stdout.splitlines() == ["a=b=c", f"qlx.app.path={win(a.exe)}"]


def test_shutdown_after_main_returns(app):
    r = app("").run("/test", script="print done")
    assert r.returncode == 0, r.explain()
    assert r.stdout == "done\n"
    # The application's remaining threads are looked for (none here) before
    # the VM goes.
    after_main = r.log[r.log.index("main returned"):]
    assert "call static java/lang/Thread.enumerate([Ljava/lang/Thread;)I" in after_main
    assert after_main[-2:] == ["detach main", "destroy"]


def test_system_exit_ends_the_process_with_its_status(app):
    r = app("").run("/test", script="print before;exit 42;print after")
    assert r.returncode == 42, r.explain()
    assert r.stdout == "before\n"
    assert "destroy" not in r.log


def test_uncaught_exception_is_described_and_yields_one(app):
    r = app("").run("/test", script="throw java/lang/IllegalStateException boom")
    assert r.returncode == 1, r.explain()
    assert 'Exception in thread "main" java.lang.IllegalStateException: boom' in r.stderr_log
    assert "describe java/lang/IllegalStateException" in r.log


# Result, configuration, double's behaviour -> the message that is printed.
FAILURES = [
    pytest.param(1, "jre_order c\n", {}, MESSAGES[1], id="1-not-found"),
    pytest.param(2, "jre_order c\njvmdll bad.dll\n", {}, MESSAGES[2], id="2-not-valid"),
    pytest.param(5, "minjre 1.6\n", {"QLX_JVM_VERSION": "<nosystem>"},
                 MESSAGES[5], id="5-no-version"),
    # A null java.version cannot be held to a limit: no check is no pass.
    pytest.param(5, "minjre 1.6\n", {"QLX_JVM_VERSION": "<null>"}, MESSAGES[5],
                 id="5-null-version"),
    pytest.param(5, "maxjre 17\n", {"QLX_JVM_VERSION": "avian"}, MESSAGES[5],
                 id="5-version-without-a-number"),
    pytest.param(6, "minjre 1.8.1\n", {"QLX_JVM_VERSION": "1.8.0_402"},
                 "Java virtual machine version 1.8.0_402 is too low, require 1.8.1 or higher.",
                 id="6-too-low"),
    pytest.param(12, "maxjre 1.7\n", {"QLX_JVM_VERSION": "1.8.0_402"},
                 "Java virtual machine version 1.8.0_402 is too high, require 1.7 or lower.",
                 id="12-too-high"),
    pytest.param(7, "", {"QLX_JVM_MAIN": "missing-class"}, MESSAGES[7], id="7-no-class"),
    pytest.param(8, "", {"QLX_JVM_MAIN": "missing-method"}, MESSAGES[8], id="8-no-main"),
    pytest.param(4, "", {"QLX_JVM_CREATE": "fail"}, MESSAGES[4], id="4-creation"),
]


@pytest.mark.parametrize("result, config, behaviour, text", FAILURES)
def test_failures_print_their_text_and_become_the_exit_code(app, result, config, behaviour,
                                                            text):
    r = app(config).run("/test", "a", env=behaviour)
    assert r.returncode == result, r.explain()
    # Default redirection: stderr goes to the log, the console gets stdout.
    assert r.stdout == text + "\n"
    assert r.stderr_log.endswith(text + "\n")
    assert "main arg=a" not in r.log


@pytest.mark.parametrize("result, config, behaviour, text", FAILURES)
def test_failures_print_once_when_both_streams_share_a_file(app, tmp_path, result, config,
                                                            behaviour, text):
    both = tmp_path / "both.log"
    target = win(both)
    r = app(f"{config}stdout {target}\nstderr {target}\n").run("/test", env=behaviour)
    assert r.returncode == result, r.explain()
    content = both.read_bytes().decode("utf-8", "replace").replace("\r\n", "\n")
    assert content.count(text) == 1, content
    assert r.stdout == text + "\n"  # the console it was started from sees it once


def test_missing_class_is_described_before_the_message(app):
    r = app("", main="no.Such").run("/test", env={"QLX_JVM_MAIN": "missing-class"})
    assert r.returncode == 7, r.explain()
    assert r.stderr_log == ('Exception in thread "main" java.lang.NoClassDefFoundError: no/Such\n'
                            + MESSAGES[7] + "\n")


def test_version_inside_the_limits_runs_main(app):
    r = app("minjre 1.8\nmaxjre 1.8\n").run("/test", env={"QLX_JVM_VERSION": "1.8.0_402"})
    assert r.returncode == 0, r.explain()
    assert "getProperty java.version" in r.log
    assert r.lines("main class=") == ["sample/Main argc=0"]


def test_no_limits_never_read_the_version(app):
    r = app("").run("/test")
    assert r.returncode == 0, r.explain()
    assert "getProperty java.version" not in r.log


def test_non_ascii_arguments_reach_main_intact(app):
    # Narrow arguments in the ANSI code page (1252 here) become Java strings
    # through the user's locale, not byte by byte.
    a = app("argv caf\u00e9\n")
    r = a.run("/test", "na\u00efve", "\u00fcber")
    assert r.returncode == 0, r.explain()
    assert r.lines("main arg=") == ["caf\u00e9", "na\u00efve", "\u00fcber"]


def test_non_ascii_names_reach_jni_in_modified_utf8(app):
    # The configuration is UTF-8; class and property names go to the VM in
    # (modified) UTF-8 whatever the ANSI code page (1252 here) would make of them.
    a = app("property pr\u00e9nom=Zo\u00eb\n", main="a.Caf\u00e9")
    r = a.run("/test")
    assert r.returncode == 0, r.explain()
    assert "findClass a/Caf\u00e9" in r.log
    assert r.lines("main class=")[0].startswith("a/Caf\u00e9 ")
    assert r.lines("setProperty ") == ["pr\u00e9nom=Zo\u00eb"]
