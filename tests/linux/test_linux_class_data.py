"""The class-data archive on HotSpot: a wrapped program's second run maps its
classes from the archive its first run left, with the same output and exit
code; a rebuilt file gets a new archive; killed dumps, damaged archives, two
first runs at once and a cache that cannot be written change nothing that the
program shows; options that manage sharing themselves turn it off."""
import os
import shutil
import signal
import subprocess
import time
import zipfile
from pathlib import Path

import pytest

import qlxtest

JDK17 = Path("/usr/lib/jvm/java-17-openjdk-amd64")
RUNTIMES = [pytest.param("17", id="jdk17"), pytest.param("25", id="jdk25")]


@pytest.fixture
def home(request):
    """The runtime of the test's parameter (Temurin 25 through qlxtest, which skips without it)."""
    return JDK17 if request.param == "17" else qlxtest.jdk25_home()
MAGIC = bytes.fromhex("a8ab0bf0")


def libjvm(home):
    return home / "lib" / "server" / "libjvm.so"


def folder_of(cache):
    return Path(cache) / "qlx" / "classdata"


def cache_files(cache):
    folder = folder_of(cache)
    return sorted(p.name for p in folder.iterdir()) if folder.exists() else []


def archive_whole(path):
    head = Path(path).read_bytes()[:16]
    return len(head) == 16 and head[:4] == MAGIC and head[8:12] != b"\0\0\0\0"


def run(app, *args, cache, tmp_path, env=None):
    """One run with its own trace file; returns (result, trace text)."""
    trace = tmp_path / f"trace-{time.monotonic_ns()}.txt"
    full = {"XDG_CACHE_HOME": str(cache), "_BROVANE_TRACE_": str(trace)}
    full.update(env or {})
    r = app.run(*args, env=full)
    return r, trace.read_text() if trace.exists() else ""


def start(app, *args, cache):
    env = dict(os.environ, XDG_CACHE_HOME=str(cache), LANG="C.UTF-8", LC_ALL="C.UTF-8")
    return subprocess.Popen([str(app.path), *args], env=env, cwd=str(app.dir),
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)


@pytest.mark.parametrize("home", RUNTIMES, indirect=True)
def test_second_run_maps_the_classes_with_the_same_output(wrap_probe, tmp_path, home):
    cache = tmp_path / "cache"
    loads = tmp_path / "loads.txt"
    config = f"option -Xlog:class+load=info:file={loads}"
    plain = wrap_probe(config, name="plain", jvmdll=str(libjvm(home)), classdata="off")
    app = wrap_probe(config, name="app", jvmdll=str(libjvm(home)), classdata="auto")
    args = ("/test", "print:hello", "eprint:to stderr", "exit:3")

    reference, _ = run(plain, *args, cache=cache, tmp_path=tmp_path)
    assert reference.returncode == 3 and b"hello" in reference.stdout
    assert cache_files(cache) == []

    first, trace1 = run(app, *args, cache=cache, tmp_path=tmp_path)
    assert "classdata miss, dump to " in trace1
    # System.exit: the VM wrote the archive before its exit hook ran.
    assert "classdata moved into place" in trace1 and "(exit hook)" in trace1
    [name] = cache_files(cache)
    assert name.startswith("app-") and name.endswith(".jsa")
    assert archive_whole(folder_of(cache) / name)

    second, trace2 = run(app, *args, cache=cache, tmp_path=tmp_path)
    assert "classdata hit " in trace2
    assert "probe.Probe source: shared objects file (top)" in loads.read_text()
    for r in (first, second):
        assert (r.returncode, r.stdout) == (reference.returncode, reference.stdout)
    # No VM warning found its way into the program's output or its error log.
    assert app.log() == plain.log() * 2
    assert cache_files(cache) == [name]


def stored_jar(path, classes_dir):
    """A jar of stored entries with fixed times: two builds of sources of the
    same shape give files of the same size."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as z:
        for p in sorted(Path(classes_dir).rglob("*.class")):
            info = zipfile.ZipInfo(str(p.relative_to(classes_dir)), (2020, 1, 1, 0, 0, 0))
            z.writestr(info, p.read_bytes())
    return path


def build_version(tmp_path, letter):
    src = tmp_path / f"src-{letter}"
    src.mkdir()
    (src / "Ver.java").write_text(
        'public class Ver { public static void main(String[] a) {'
        f' System.out.println("version {letter}"); }} }}\n')
    classes = tmp_path / f"classes-{letter}"
    subprocess.run([str(qlxtest.JDK / "bin" / "javac"), "--release", "8", "-d", str(classes),
                    str(src / "Ver.java")], check=True)
    return stored_jar(tmp_path / f"ver-{letter}.jar", classes)


def test_a_rebuilt_file_of_the_same_size_and_time_runs_its_new_code(tmp_path):
    cache = tmp_path / "cache"
    config = f"mainclass Ver\njvmdll {libjvm(JDK17)}\n"
    (tmp_path / "app").mkdir()
    (tmp_path / "stage").mkdir()
    a = qlxtest.wrap(qlxtest.STUB_LINUX, build_version(tmp_path, "A"), config, tmp_path / "app" / "ver")
    b = qlxtest.wrap(qlxtest.STUB_LINUX, build_version(tmp_path, "B"), config,
                     tmp_path / "stage" / "ver")
    assert a.stat().st_size == b.stat().st_size
    from linux_e2e import Wrapped
    app = Wrapped(a)
    stamp = a.stat()

    for expected in ("miss", "hit"):
        r, trace = run(app, "/test", cache=cache, tmp_path=tmp_path)
        assert r.stdout == b"version A\n" and f"classdata {expected}" in trace
    [old] = cache_files(cache)

    shutil.copyfile(b, a)
    os.utime(a, ns=(stamp.st_atime_ns, stamp.st_mtime_ns))
    assert (a.stat().st_size, int(a.stat().st_mtime)) == (stamp.st_size, int(stamp.st_mtime))

    for expected in ("miss", "hit"):
        r, trace = run(app, "/test", cache=cache, tmp_path=tmp_path)
        assert (r.returncode, r.stdout) == (0, b"version B\n"), r.stderr + app.log().encode()
        assert f"classdata {expected}" in trace
    # The new archive replaced the program's old one.
    [new] = cache_files(cache)
    assert new != old


def test_killed_dumps_and_damaged_archives_are_replaced(wrap_probe, tmp_path):
    cache = tmp_path / "cache"
    app = wrap_probe(name="app", classdata="auto")
    folder = folder_of(cache)

    # Killed while the VM writes its archive (when the poll catches it).
    p = start(app, "/test", "print:x", cache=cache)
    deadline = time.monotonic() + 60
    killed = False
    while p.poll() is None and time.monotonic() < deadline:
        written = [n for n in cache_files(cache) if n.endswith(".tmp")]
        if written and (folder / written[0]).stat().st_size > 0:
            p.send_signal(signal.SIGKILL)
            killed = True
            break
        time.sleep(0.001)
    p.communicate(timeout=60)
    for name in cache_files(cache):  # whatever it left is no archive in place
        assert name.endswith(".tmp") or archive_whole(folder / name)
    if killed:
        assert [n for n in cache_files(cache) if n.endswith(".jsa")] == []

    r, trace = run(app, "/test", "print:x", cache=cache, tmp_path=tmp_path)
    assert (r.returncode, r.stdout.splitlines()[-1]) == (0, b"x")
    [name] = cache_files(cache)  # the killed run's leftover is gone
    assert archive_whole(folder / name)

    # A damaged archive in place (its head never written) is not used, and
    # a dump of a process that has ended is cleared away.
    archive = folder / name
    data = bytearray(archive.read_bytes())
    data[:16] = bytes(16)
    archive.chmod(0o644)
    archive.write_bytes(bytes(data))
    dead = subprocess.Popen(["true"])
    dead.wait()
    (folder / f"{name}.{dead.pid}.tmp").write_bytes(bytes(4096))

    r, trace = run(app, "/test", "print:x", cache=cache, tmp_path=tmp_path)
    assert (r.returncode, r.stdout.splitlines()[-1]) == (0, b"x")
    assert "classdata miss" in trace and "moved into place" in trace
    assert cache_files(cache) == [name] and archive_whole(archive)
    r, trace = run(app, "/test", "print:x", cache=cache, tmp_path=tmp_path)
    assert "classdata hit" in trace


def test_two_first_runs_at_once_leave_one_archive(wrap_probe, tmp_path):
    cache = tmp_path / "cache"
    app = wrap_probe(name="app", classdata="auto")
    runs = [start(app, "/test", "print:same", cache=cache) for _ in range(2)]
    outputs = [p.communicate(timeout=120) for p in runs]
    assert [p.returncode for p in runs] == [0, 0]
    assert outputs[0][0] == outputs[1][0]
    [name] = cache_files(cache)
    assert name.endswith(".jsa") and archive_whole(folder_of(cache) / name)
    r, trace = run(app, "/test", "print:same", cache=cache, tmp_path=tmp_path)
    assert "classdata hit" in trace and r.stdout == outputs[0][0]


@pytest.mark.parametrize("home", RUNTIMES, indirect=True)
def test_a_cache_that_cannot_be_written_changes_nothing(wrap_probe, tmp_path, home):
    blocker = tmp_path / "a-file"
    blocker.write_text("not a folder")
    args = ("/test", "print:out", "exit:0")
    plain = wrap_probe(name="plain", jvmdll=str(libjvm(home)), classdata="off")
    reference, _ = run(plain, *args, cache=blocker, tmp_path=tmp_path)
    cases = [("auto", blocker), ("/proc/qlx/classdata", tmp_path / "cache")]
    if os.geteuid() != 0:
        locked = tmp_path / "locked"
        locked.mkdir(mode=0o555)
        cases.append(("auto", locked))
    for setting, cache in cases:
        app = wrap_probe(name="app", jvmdll=str(libjvm(home)), classdata=setting)
        r, trace = run(app, *args, cache=cache, tmp_path=tmp_path)
        assert (r.returncode, r.stdout) == (reference.returncode, reference.stdout), setting
        assert "classdata miss, no dump: cannot write in " in trace
        assert "Error occurred" not in app.log()


@pytest.mark.parametrize("config, reason", [
    ("option -Xshare:off", "the application's options manage class sharing"),
    ("export JAVA_TOOL_OPTIONS=-Xshare:auto", "the application's options manage class sharing"),
    ("classpath {folder}", "the class path names a folder"),
    ("classdata off", "turned off"),
])
def test_nothing_is_added_when_not_wanted(wrap_probe, tmp_path, config, reason):
    folder = tmp_path / "classes"
    folder.mkdir()
    (folder / "some.txt").write_text("a folder with files in it")
    cache = tmp_path / "cache"
    app = wrap_probe(config.format(folder=folder), name="app",
                     classdata=None if "classdata" in config else "auto")
    r, trace = run(app, "/test", "jvmargs", cache=cache, tmp_path=tmp_path)
    assert r.returncode == 0, app.log()
    added = [line for line in r.stdout.decode().splitlines()
             if "Archive" in line or "-Xlog:disable" in line or "warning:stderr" in line]
    assert added == []
    assert f"classdata off: {reason}" in trace
    assert cache_files(cache) == []
