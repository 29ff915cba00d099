"""The build steps of the Linux tree: the support classes rewritten to
class-file version 45.3 (checked by the JVM's old verifier), and the post-link
step that lets the JVM load the launcher executable as a library."""
import shutil
import struct
import subprocess
import sys
import zipfile
from pathlib import Path

import pytest

import qlxtest

DOWNGRADE = qlxtest.ROOT / "java" / "downgrade_classes.py"
MAKE_LOADABLE = qlxtest.ROOT / "cmake" / "make_loadable.py"
APPS = qlxtest.ROOT / "tests" / "apps"
JAVAC = qlxtest.JDK / "bin" / "javac"
JAVAP = qlxtest.JDK / "bin" / "javap"
PKG = "com.tarnwick.qlx."

# The shape of every support class: what applications and the launcher's
# natives rely on (names, access flags, field types, native flags).
EXPECTED_SHAPES = {
    "Instances": """class public com.tarnwick.qlx.Instances extends java.lang.Object
  ctor public ()
  method public static native [I getInstances()
  method public static native com.tarnwick.qlx.Instances$Reply getReply()
  method public static native int getCurrentInstance()
  method public static native int getFirstInstance()
  method public static native void flush()
  method public static native void sendObject(int,java.io.Serializable,com.tarnwick.qlx.Instances$Reply)
  method public static native void setReceiver(com.tarnwick.qlx.Instances$ReceiverInterface)
  method public static void sendObject(int,java.io.Serializable)
  method public static void sendObject(java.io.Serializable)""",
    "Instances$ReceiverInterface": """class public abstract static interface com.tarnwick.qlx.Instances$ReceiverInterface
  method public abstract void onReceive(int,java.io.Serializable)""",
    "Instances$Reply": """class public abstract static interface com.tarnwick.qlx.Instances$Reply
  method public abstract void set(java.io.Serializable)""",
    "InstancesReplyImpl": """class public com.tarnwick.qlx.InstancesReplyImpl extends java.lang.Object implements com.tarnwick.qlx.Instances$Reply
  ctor public ()
  field protected long p
  field protected long s
  method public native void set(java.io.Serializable)""",
    "ClassLoaderObjectInputStream": """class public com.tarnwick.qlx.ClassLoaderObjectInputStream extends java.io.ObjectInputStream
  ctor public (java.io.InputStream,java.lang.ClassLoader)
  field private java.lang.ClassLoader classLoader
  method protected java.lang.Class resolveClass(java.io.ObjectStreamClass)
  method protected java.lang.Class resolveProxyClass([Ljava.lang.String;)""",
    "RedirOutputStream": """class public com.tarnwick.qlx.RedirOutputStream extends java.io.OutputStream
  ctor public ()
  field protected long h
  method public native void write(int)""",
    "ServiceStatusHandler": """class public abstract interface com.tarnwick.qlx.ServiceStatusHandler
  method public abstract boolean canPause()
  method public abstract boolean onContinue()
  method public abstract boolean onPause()
  method public abstract boolean onStop()""",
    "ServiceStatusManager": """class public com.tarnwick.qlx.ServiceStatusManager extends java.lang.Object
  ctor public ()
  field public static boolean isRunAsService
  field public static final int STATUS_PAUSED
  field public static final int STATUS_RUNNING
  field public static final int STATUS_START_PENDING
  method private static native void nativeSetServiceStatus(int)
  method private static native void nativeSetServiceStatusHandler(com.tarnwick.qlx.ServiceStatusHandler)
  method public static native [Ljava.lang.String; getCommandLineArguments()
  method public static native [Ljava.lang.String; getStartupParameters()
  method public static void setServiceStatus(int)
  method public static void setServiceStatusHandler(com.tarnwick.qlx.ServiceStatusHandler)""",
}
# Classes whose natives are fixed but whose other members are ours: only the
# native methods and the handle fields are compared.
EXPECTED_NATIVES = {
    "EventLog": ["field protected long h",
                 "method native void init(java.lang.String,java.lang.String)",
                 "method protected native void finalize()",
                 "method public native void reportEvent(int,int,int,[Ljava.lang.String;,[B)"],
    "SystemTray": ["field protected long h",
                   "method native void init(int,java.lang.String,java.lang.String,java.lang.String,int)",
                   "method protected native void finalize()",
                   "method public native void Change(int,java.lang.String,java.lang.String,java.lang.String,int)",
                   "method public native void Hide()",
                   "method public native void Show()",
                   "method public native void setSystemTrayCallback(java.lang.Object)"],
    "SystemTrayMenu": ["field protected java.util.HashSet popups",
                       "field protected long h",
                       "method native void init()",
                       "method protected native void finalize()",
                       "method public native void Append(java.lang.String,com.tarnwick.qlx.SystemTrayMenu)",
                       "method public native void Append(java.lang.String,int)",
                       "method public native void AppendSeparator()",
                       "method public native void Popup()"],
}
# Classes of our own that no application calls: only loaded and verified.
HELPER_CLASSES = ["InstanceFilter", "StreamCheck", "StreamCheck$Desc"]
ALL_CLASSES = list(EXPECTED_SHAPES) + list(EXPECTED_NATIVES) + HELPER_CLASSES


@pytest.fixture(scope="module")
def support_jar():
    if not qlxtest.SUPPORT_JAR.exists():
        pytest.fail(f"qlx-support.jar is missing: {qlxtest.SUPPORT_JAR}")
    return qlxtest.SUPPORT_JAR


@pytest.fixture(scope="module")
def check_jar(support_jar, tmp_path_factory):
    out = tmp_path_factory.mktemp("supportcheck")
    return qlxtest.compile_java(APPS / "supportcheck", out / "check.jar", classpath=support_jar)


def run_check(support_jar, check_jar, *args):
    r = subprocess.run([str(qlxtest.JAVA), "-Xverify:all", "-cp", f"{support_jar}:{check_jar}",
                        "supportcheck.SupportCheck", *map(str, args)],
                       capture_output=True, text=True, timeout=60)
    assert r.returncode == 0, r.stdout + r.stderr
    return dict(line.split("=", 1) for line in r.stdout.splitlines() if "=" in line)


@pytest.fixture(scope="module")
def shapes(support_jar, check_jar):
    """The printed shape of every support class, loaded and initialised on
    the real JVM with every class verified (old verifier for 45.3), without
    the launcher: qlx.app.path is not set."""
    jar = check_jar
    r = subprocess.run([str(qlxtest.JAVA), "-Xverify:all", "-Xlog:verification=info",
                        "-cp", f"{support_jar}:{jar}", "supportcheck.SupportCheck",
                        *[PKG + c for c in ALL_CLASSES]],
                       capture_output=True, text=True, timeout=60)
    assert r.returncode == 0, r.stdout + r.stderr
    blocks, verify_lines = {}, []
    current = None
    for line in r.stdout.splitlines():
        if line.startswith("[") and "verification" in line:
            verify_lines.append(line)
        elif line.startswith("class "):
            current = line.split()[-1] if " extends " not in line and " implements " not in line \
                else line.split(" extends ")[0].split()[-1]
            blocks[current] = [line]
        elif current:
            blocks[current].append(line)
    return blocks, verify_lines


def test_every_class_is_version_45_3_without_stack_maps(support_jar):
    with zipfile.ZipFile(support_jar) as z:
        names = sorted(n for n in z.namelist() if n.endswith(".class"))
        assert names == sorted(f"com/tarnwick/qlx/{c}.class" for c in ALL_CLASSES)
        for name in names:
            data = z.read(name)
            assert struct.unpack(">IHH", data[:8]) == (0xCAFEBABE, 3, 45), name
    r = subprocess.run([str(JAVAP), "-v", "-cp", str(support_jar), *[PKG + c for c in ALL_CLASSES]],
                       capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    assert "StackMapTable:" not in r.stdout
    assert "invokedynamic" not in r.stdout


@pytest.mark.parametrize("name", list(EXPECTED_SHAPES))
def test_class_shape(shapes, name):
    blocks, _ = shapes
    assert "\n".join(blocks[PKG + name]) == EXPECTED_SHAPES[name]


@pytest.mark.parametrize("name", list(EXPECTED_NATIVES))
def test_native_declarations(shapes, name):
    blocks, _ = shapes
    members = [line.strip() for line in blocks[PKG + name][1:]]
    natives = [m for m in members if " native " in m or m.startswith("field protected long h")
               or "popups" in m]
    assert natives == EXPECTED_NATIVES[name]


def test_loaded_by_the_old_verifier(shapes):
    _, verify_lines = shapes
    text = "\n".join(verify_lines)
    for name in ALL_CLASSES:
        assert f"Verifying class {PKG}{name} with old format" in text, name


def test_natives_fail_only_when_called_outside_the_launcher(support_jar, check_jar):
    assert run_check(support_jar, check_jar, "--native") == {"native": "UnsatisfiedLinkError"}


def test_object_input_stream_resolves_with_the_given_loader(support_jar, check_jar, tmp_path):
    hidden = qlxtest.compile_java(APPS / "hidden", tmp_path / "hidden.jar")
    got = run_check(support_jar, check_jar, "--resolve", hidden)
    assert got["resolve.own-loader"] == "hidden value loader=true list=[a, b]"
    # Neither the given loader nor the default resolution sees the class:
    # the default resolution's exception reaches the caller.
    assert got["resolve.other-loader"] == "ClassNotFoundException: hidden.Hidden"


# --- the rewriting step itself --------------------------------------------

def _compile(src, out, release):
    out.mkdir(parents=True, exist_ok=True)
    subprocess.run([str(JAVAC), "--release", release, "-Xlint:-options", "-d", str(out),
                    *map(str, Path(src).rglob("*.java"))], check=True, capture_output=True)
    return out


def _downgrade(classes, jar):
    return subprocess.run([sys.executable, str(DOWNGRADE), str(classes), str(jar)],
                          capture_output=True, text=True)


def test_rewritten_bytecode_runs_under_the_old_verifier(tmp_path):
    classes = _compile(APPS / "classfiles" / "good", tmp_path / "good", "7")
    reference = subprocess.run([str(qlxtest.JAVA), "-cp", str(classes), "good.Good"],
                               capture_output=True, text=True)
    r = _downgrade(classes, tmp_path / "good.jar")
    assert r.returncode == 0, r.stderr
    run = subprocess.run([str(qlxtest.JAVA), "-Xverify:all", "-Xlog:verification=info", "-cp",
                          str(tmp_path / "good.jar"), "good.Good"], capture_output=True, text=True)
    assert run.returncode == 0, run.stdout + run.stderr
    assert "Verifying class good.Good with old format" in run.stdout
    printed = [line for line in run.stdout.splitlines() if not line.startswith("[")]
    assert printed == [reference.stdout.strip()]


@pytest.mark.parametrize("app, release, complaint", [
    ("classliteral", "7", "ldc of constant tag 7"),
    ("good", "8", "compiled for class-file version 52"),
])
def test_inexpressible_classes_are_refused(tmp_path, app, release, complaint):
    classes = _compile(APPS / "classfiles" / app, tmp_path / app, release)
    jar = tmp_path / "out.jar"
    r = _downgrade(classes, jar)
    assert r.returncode == 1
    assert complaint in r.stderr
    assert "Traceback" not in r.stderr
    assert not jar.exists()


@pytest.mark.parametrize("content", [b"", b"\xca\xfe\xba\xbe", b"not a class at all",
                                     b"\xca\xfe\xba\xbe\x00\x00\x00\x33\xff\xff"])
def test_damaged_class_files_are_refused(tmp_path, content):
    classes = tmp_path / "classes"
    classes.mkdir()
    (classes / "Bad.class").write_bytes(content)
    r = _downgrade(classes, tmp_path / "out.jar")
    assert r.returncode == 1
    assert "Bad.class" in r.stderr and "Traceback" not in r.stderr


def test_unwritable_jar_is_reported(tmp_path):
    classes = _compile(APPS / "classfiles" / "good", tmp_path / "good", "7")
    r = _downgrade(classes, tmp_path / "no" / "such" / "dir" / "out.jar")
    assert r.returncode == 1
    assert "cannot write" in r.stderr and "Traceback" not in r.stderr


# --- the loadable executable ----------------------------------------------

def _flags_1(path):
    out = subprocess.run(["readelf", "-d", str(path)], capture_output=True, text=True).stdout
    for line in out.splitlines():
        if "(FLAGS_1)" in line:
            return [f for f in line.split("Flags:", 1)[1].split() if f != "None"]
    return []


def test_launcher_stub_is_not_flagged_pie():
    assert "PIE" not in _flags_1(qlxtest.STUB_LINUX)


def test_clearing_the_pie_flag_keeps_a_program_runnable(tmp_path):
    program = tmp_path / "true"
    shutil.copy2("/bin/true", program)
    flags = _flags_1(program)
    if "PIE" not in flags:
        pytest.skip("/bin/true is not flagged PIE on this machine")
    r = subprocess.run([sys.executable, str(MAKE_LOADABLE), str(program)], capture_output=True)
    assert r.returncode == 0, r.stderr
    after = _flags_1(program)
    assert "PIE" not in after
    assert set(after) == set(flags) - {"PIE"}     # the other flags are kept
    assert subprocess.run([str(program)]).returncode == 0
    # A second run finds nothing to do and changes nothing.
    before = program.read_bytes()
    assert subprocess.run([sys.executable, str(MAKE_LOADABLE), str(program)]).returncode == 0
    assert program.read_bytes() == before


@pytest.mark.parametrize("content", [b"", b"MZ\x90\x00", b"\x7fELF\x02\x01" + bytes(10),
                                     b"\x7fELF\x02\x01\x01" + bytes(25) + b"\xff" * 8 + bytes(30),
                                     b"\x7fELF\x01\x01\x01" + bytes(60),
                                     b"\x7fELF\x02\x01\x01" + bytes(9) + b"\x03\x00" + bytes(40)])
def test_make_loadable_refuses_other_files(tmp_path, content):
    missing = subprocess.run([sys.executable, str(MAKE_LOADABLE), str(tmp_path / "missing")],
                             capture_output=True, text=True)
    assert missing.returncode == 1 and "Traceback" not in missing.stderr
    f = tmp_path / "f"
    f.write_bytes(content)
    r = subprocess.run([sys.executable, str(MAKE_LOADABLE), str(f)], capture_output=True, text=True)
    assert r.returncode in (0, 1)
    assert "Traceback" not in r.stderr
    assert f.read_bytes() == content
