"""The launch sequence on the real JVM: environment, VM options, the
launcher's system properties, configured properties, version limits, the
main class and the arguments it receives, exit codes."""
import os
from pathlib import Path

import pytest

import qlxtest

from linux_e2e import facts

MSG_TOO_LOW = "Java virtual machine version {} is too low, require {} or higher."
MSG_TOO_HIGH = "Java virtual machine version {} is too high, version between {} and {} is required."
MSG_TOO_HIGH_MAX_ONLY = "Java virtual machine version {} is too high, require {} or lower."
MSG_NO_CLASS = "The main startup class could not be found."
MSG_NO_MAIN = "The main startup class is not valid, main method missing."


def out_text(result):
    return result.stdout.decode("utf-8", "replace")


# --- environment -----------------------------------------------------------

@pytest.mark.parametrize("config, inherited, expected", [
    # No export line: an inherited JAVA_TOOL_OPTIONS never reaches the VM.
    ("", "-Dtool.opt=inherited", {"env.JAVA_TOOL_OPTIONS": "<null>",
                                  "prop.tool.opt": "<null>"}),
    # An export line naming it keeps it (and the VM applies it).
    ("export JAVA_TOOL_OPTIONS=-Dtool.opt=configured", "-Dtool.opt=inherited",
     {"env.JAVA_TOOL_OPTIONS": "-Dtool.opt=configured", "prop.tool.opt": "configured"}),
    # Lines are applied unchanged, in order; NAME= removes; no "=" is ignored.
    ("export QLX_SET=one two\nexport QLX_GONE=\nexport QLX_KEPT\nexport QLX_SET=again",
     None, {"env.QLX_SET": "again", "env.QLX_GONE": "<null>", "env.QLX_KEPT": "inherited"}),
])
def test_export_lines(wrap_probe, config, inherited, expected):
    app = wrap_probe(config)
    env = {"QLX_GONE": "inherited", "QLX_KEPT": "inherited"}
    if inherited:
        env["JAVA_TOOL_OPTIONS"] = inherited
    r = app.run("/test", "env:JAVA_TOOL_OPTIONS", "prop:tool.opt", "env:QLX_SET",
                "env:QLX_GONE", "env:QLX_KEPT", env=env)
    assert r.returncode == 0, app.log()
    got = facts(r.stdout)
    for key, value in expected.items():
        assert got[key] == value, key
    # The VM announces a JAVA_TOOL_OPTIONS it picked up; the inherited one must not be.
    assert "inherited" not in app.log()


# --- options and the launcher's own properties ----------------------------

def test_option_lines_come_first_in_order(wrap_probe):
    app = wrap_probe("option -Dopt.first=1\noption=-Xmx200m\noption -Dopt.spaced=a b\n"
                     "option -Dopt.last=3")
    r = app.run("/test", "jvmargs", "prop:opt.spaced")
    assert r.returncode == 0, app.log()
    got = facts(r.stdout)
    args = [got[f"jvmarg[{i}]"] for i in range(len([k for k in got if k.startswith("jvmarg[")]))]
    assert args[:5] == ["-Dopt.first=1", "-Xmx200m", "-Dopt.spaced=a b", "-Dopt.last=3",
                        "-Xcheck:jni"]
    # One line is one option, not split at blanks.
    assert got["prop.opt.spaced"] == "a b"
    launcher_own = [a.split("=", 1)[0] for a in args[5:]]
    assert launcher_own[:3] == ["-Dqlx.class.path", "-Dqlx.app.path", "-Dapplication.home"] \
        or launcher_own[:4] == ["-Djava.class.path", "-Dqlx.class.path", "-Dqlx.app.path",
                                "-Dapplication.home"]


@pytest.mark.parametrize("release", ["17", "25"])
def test_options_lists_and_native_access_on_old_and_new_runtimes(wrap_probe, release):
    """`options` lines are split like a command line and keep their place among
    the `option` lines; the support classes load their natives without the
    "restricted method" warnings of Java 24 and later: there the launcher binds
    them itself, and no grant of native access is added on either runtime."""
    if release == "25":
        qlxtest.require_jdk25()
    home = qlxtest.JDK if release == "17" else qlxtest.JDK25
    app = wrap_probe(f"jvmdll {home}/lib/server/libjvm.so\noption -Dfirst=1\n"
                     "options %QLX_OPTS%\noption -Dlast=4", jvmdll=False)
    r = app.run("/test", "service", "jvmargs", "prop:title", "prop:java.version",
                "prop:qlx.natives.bound",
                env={"QLX_OPTS": '-Xmx64m -Dsecond=2 "-Dtitle=a b"'})
    assert r.returncode == 0, app.log()
    got = facts(r.stdout)
    args = [got[f"jvmarg[{i}]"] for i in range(len([k for k in got if k.startswith("jvmarg[")]))]
    assert args[:6] == ["-Dfirst=1", "-Xmx64m", "-Dsecond=2", "-Dtitle=a b", "-Dlast=4",
                        "-Xcheck:jni"]
    assert got["prop.title"] == "a b"
    assert got["prop.java.version"].split(".")[0] == release
    assert got["setServiceStatus"] == "returned"  # the natives were loaded and called
    assert not any(a.startswith("--enable-native-access") for a in args)
    assert got["prop.qlx.natives.bound"] == ("true" if release == "25" else "<null>")
    output = r.stdout.decode() + r.stderr.decode() + app.log()
    assert "restricted method" not in output and "WARNING" not in output, output


def test_launcher_system_properties(wrap_probe):
    app = wrap_probe()
    r = app.run("/test", "prop:java.class.path", "prop:qlx.class.path", "prop:qlx.app.path",
                "prop:application.home", "prop:qlx.is.elevated", "prop:user.dir",
                env={"CLASSPATH": ""})
    assert r.returncode == 0, app.log()
    got = facts(r.stdout)
    exe = str(app.path)
    assert got["prop.qlx.app.path"] == exe
    assert got["prop.java.class.path"].split(":")[0] == exe
    assert got["prop.qlx.class.path"] == got["prop.java.class.path"]
    assert got["prop.application.home"] == str(app.dir) + "/"
    # The working directory defaults to the executable's directory.
    assert got["prop.user.dir"] == str(app.dir)
    assert got["prop.qlx.is.elevated"] == ("true" if os.geteuid() == 0 else "<null>")


def test_not_elevated_as_unprivileged_user(wrap_probe):
    """Run as nobody: the elevation property must be absent."""
    import shutil
    import subprocess
    import tempfile
    if os.geteuid() != 0 or not shutil.which("setpriv"):
        pytest.skip("needs root and setpriv to drop privileges")
    # Outside pytest's base directory, which is private to root (and reset
    # to 0700 by every pytest session).
    shared = Path(tempfile.mkdtemp(prefix="qlx-nobody-", dir="/tmp"))
    try:
        shared.chmod(0o777)
        app = wrap_probe(directory=shared)
        app.path.chmod(0o755)
        env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8", HOME=str(shared))
        r = subprocess.run(["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                            str(app.path), "/test", "prop:qlx.is.elevated", "prop:user.name"],
                           env=env, cwd=str(shared), capture_output=True, timeout=60)
        assert r.returncode == 0, (r.stdout, r.stderr, app.log())
        app.check_jni(r.stdout)
        got = facts(r.stdout)
        assert got["prop.user.name"] == "nobody"
        assert got["prop.qlx.is.elevated"] == "<null>"
    finally:
        shutil.rmtree(shared, ignore_errors=True)


# --- configured properties ------------------------------------------------

def test_property_lines(wrap_probe):
    app = wrap_probe("property p.utf=é€\nproperty p.eq=b=c\nproperty p.bare\n"
                     "property p.spaces= x \nproperty java.class.path=overridden")
    r = app.run("/test", "prophex:p.utf", "prop:p.eq", "prop:p.bare", "prophex:p.spaces",
                "prop:java.class.path")
    assert r.returncode == 0, app.log()
    got = facts(r.stdout)
    assert got["prophex.p.utf"] == "00e9 20ac"     # UTF-8 values reach Java intact
    assert got["prop.p.eq"] == "b=c"
    assert got["prop.p.bare"] == ""
    assert got["prophex.p.spaces"] == "0020 0078 0020"  # nothing trimmed
    # Properties are set after the VM exists, so they override the launcher's.
    assert got["prop.java.class.path"] == "overridden"


# --- version limits -------------------------------------------------------

def _bump(version):
    """17.0.15 -> 17.0.16 (the last number raised by one)."""
    head, _, last = version.rpartition(".")
    digits = "".join(c for c in last if c.isdigit()) or "0"
    return f"{head}.{int(digits) + 1}" if head else str(int(digits) + 1)


@pytest.mark.parametrize("limits, result", [
    ("minjre 1.6", 0),
    ("minjre 17", 0),
    ("minjre {v}", 0),
    ("maxjre {v}", 0),
    ("minjre 17.0\nmaxjre 17", 0),
    ("minjre abc", 0),           # no number: never rejects
    ("maxjre x1", 0),
    ("minjre 21", 6),
    ("minjre {bumped}", 6),
    ("maxjre 11", 12),
    ("minjre 1.6\nmaxjre 16.9", 12),
])
def test_version_limits(wrap_probe, java_version, limits, result):
    limits = limits.format(v=java_version, bumped=_bump(java_version))
    app = wrap_probe(limits)
    r = app.run("/test", "print:main-ran")
    assert r.returncode == result, (out_text(r), app.log())
    conf = dict(line.split(" ", 1) for line in limits.splitlines())
    if result == 0:
        assert "main-ran" in out_text(r)
        return
    assert "main-ran" not in out_text(r)
    if result == 6:
        message = MSG_TOO_LOW.format(java_version, conf["minjre"])
    else:
        message = (MSG_TOO_HIGH.format(java_version, conf["minjre"], conf["maxjre"]) if "minjre" in conf
                   else MSG_TOO_HIGH_MAX_ONLY.format(java_version, conf["maxjre"]))
    # Printed once to standard output and once into the standard error log.
    assert out_text(r).splitlines() == [message]
    assert app.log().splitlines()[-1] == message


# --- main class, arguments, exit codes ------------------------------------

@pytest.mark.parametrize("main, result, message, description", [
    ("probe.DoesNotExist", 7, MSG_NO_CLASS, "java.lang.NoClassDefFoundError: probe/DoesNotExist"),
    ("probe.NoMain", 8, MSG_NO_MAIN,
     "java.lang.NoSuchMethodError: static Lprobe/NoMain;.main([Ljava/lang/String;)V"),
    ("probe.InstanceMain", 8, MSG_NO_MAIN,
     "java.lang.NoSuchMethodError: static Lprobe/InstanceMain;.main([Ljava/lang/String;)V"),
])
def test_main_class_failures(wrap_probe, main, result, message, description):
    app = wrap_probe(main=main)
    r = app.run("/test")
    assert r.returncode == result
    assert out_text(r).splitlines() == [message]
    log = app.log()
    # The VM's own description comes first, then the launcher's message.
    assert description in log
    assert log.index(description) < log.index(message)
    assert log.count(message) == 1


def test_argv_lines_come_before_command_line_arguments(wrap_probe):
    app = wrap_probe('argv -a "b c" d\\"e\nargv  second\\\\"x y"')
    r = app.run("/test", "x", "y z")
    assert r.returncode == 0, app.log()
    got = facts(r.stdout)
    argv = [got[f"argv[{i}]"] for i in range(len([k for k in got if k.startswith("argv[")]))]
    assert argv == ["-a", "b c", 'd"e', "second\\x y", "x", "y z"]


@pytest.mark.parametrize("code", [0, 3, 42, 255])
def test_system_exit_is_the_exit_code(wrap_probe, code):
    app = wrap_probe()
    r = app.run("/test", f"exit:{code}", "print:after-exit")
    assert r.returncode == code
    assert "after-exit" not in out_text(r).splitlines()


def test_uncaught_exception_is_described_and_exit_is_one(wrap_probe):
    app = wrap_probe()
    r = app.run("/test", "print:before", "throw:x", "print:after")
    assert r.returncode == 1
    lines = out_text(r).splitlines()
    assert "before" in lines and "after" not in lines
    log = app.log()
    assert "java.lang.IllegalStateException: probe failure x" in log
    assert "\tat probe.Probe.run" in log


def test_failure_printed_once_when_streams_share_a_file(wrap_probe):
    app = wrap_probe("stdout both.log\nstderr both.log", main="probe.DoesNotExist")
    r = app.run("/test")
    assert r.returncode == 7
    # The console the program was started from still sees the failure once.
    assert r.stdout == (MSG_NO_CLASS + "\n").encode() and r.stderr == b""
    both = (app.dir / "both.log").read_text()
    assert both.count(MSG_NO_CLASS) == 1
    assert "NoClassDefFoundError" in both
    assert not app.stderr_log.exists()


def test_failure_printed_twice_when_streams_differ(wrap_probe):
    app = wrap_probe("stdout out.log", main="probe.DoesNotExist")
    r = app.run("/test")
    assert r.returncode == 7
    assert (app.dir / "out.log").read_text().count(MSG_NO_CLASS) == 1
    assert app.log().count(MSG_NO_CLASS) == 1
    assert r.stdout == (MSG_NO_CLASS + "\n").encode()


def test_looped_library_directories_are_walked_once(wrap_probe):
    # Links back up the tree: without a memory of walked directories the
    # walk would list about 2^32 directories.
    app = wrap_probe("libs lib")
    lib = app.dir / "lib"
    (lib / "sub").mkdir(parents=True)
    for jar, (link, target) in zip(("x.jar", "sub/y.jar", "z.txt"),
                                   (("a", "."), ("b", "."), ("sub/up", ".."))):
        qlxtest.make_jar(lib / jar)
        os.symlink(target, lib / link)
    r = app.run("/test", "prop:java.class.path", drop_env=["CLASSPATH", "CLASS_PATH"], timeout=20)
    assert r.returncode == 0, app.log()
    entries = facts(r.stdout)["prop.java.class.path"].split(":")
    assert [Path(e).name for e in entries if e.endswith(".jar")] in (["x.jar", "y.jar"],
                                                                     ["y.jar", "x.jar"])
