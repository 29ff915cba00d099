"""The class-data archive on HotSpot. JDK 17 gets the dynamic archive the
run writes when it ends; Temurin 25 the ahead-of-time cache, assembled
after the first run by a detached java from the class list that run wrote.
Either way the next run maps the program's classes with the same standard
output, standard error and exit code; a rebuilt file gets a new archive; a
regenerated base archive does too; runs killed while they write, killed
assemblies, damaged files, two first runs at once and a cache that cannot
be written change nothing that the program shows; options that manage
sharing themselves, wherever the VM reads them, turn it off; a VM that
ends while it is created with the archive options stops later starts from
adding them; and no other user can put an archive in the program's way."""
import fcntl
import os
import shutil
import signal
import stat
import subprocess
import tempfile
import time
import zipfile
from pathlib import Path

import pytest

import qlxtest
import second_user
from linux_e2e import Wrapped

JDK17 = Path("/usr/lib/jvm/java-17-openjdk-amd64")
RUNTIMES = [pytest.param("jdk17", id="jdk17"), pytest.param("jdk25", id="jdk25")]
DYNAMIC_MAGIC = bytes.fromhex("a8ab0bf0")
CACHE_MAGIC = bytes.fromhex("a2ab0bf0")
OTHER_USER = "qlxcds"


@pytest.fixture
def home(request):
    """The runtime of a parametrised test: JDK 17, or Temurin 25 when present."""
    name = getattr(request, "param", "jdk17")
    return qlxtest.jdk25_home() if name == "jdk25" else JDK17


def libjvm(home):
    return Path(home) / "lib" / "server" / "libjvm.so"


def aot(home):
    return Path(home) != JDK17 and "25" in (Path(home) / "release").read_text()


def folder_of(cache):
    return Path(cache) / "qlx" / "classdata"


def cache_files(cache, folder=None):
    folder = Path(folder) if folder else folder_of(cache)
    return sorted(p.name for p in folder.iterdir()) if folder.exists() else []


def whole(path, magic):
    head = Path(path).read_bytes()[:16]
    return len(head) == 16 and head[:4] == magic and head[8:12] != b"\0\0\0\0"


def in_place(cache, folder=None):
    """The archive or cache in place, if any."""
    names = [n for n in cache_files(cache, folder) if n.endswith((".jsa", ".aot"))]
    return names


def run(app, *args, cache, tmp_path, env=None):
    """One run with its own trace file and error log; returns (result, trace text)."""
    trace = tmp_path / f"trace-{time.monotonic_ns()}.txt"
    full = {"XDG_CACHE_HOME": str(cache), "_BROVANE_TRACE_": str(trace)}
    full.update(env or {})
    if app.stderr_log.exists():
        app.stderr_log.unlink()
    r = app.run(*args, env=full)
    r.log = app.log()
    return r, trace.read_text() if trace.exists() else ""


def start(app, *args, cache, env=None):
    full = dict(os.environ, XDG_CACHE_HOME=str(cache), LANG="C.UTF-8", LC_ALL="C.UTF-8")
    full.update(env or {})
    return subprocess.Popen([str(app.path), *args], env=full, cwd=str(app.dir),
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def assembly_running(log):
    try:
        with open(log, "rb") as f:
            fcntl.flock(f, fcntl.LOCK_SH | fcntl.LOCK_NB)
        return False
    except BlockingIOError:
        return True
    except FileNotFoundError:
        return False


def wait_assembled(folder, timeout=180):
    """Waits until no assembly writes into the folder any more."""
    folder = Path(folder)
    assert qlxtest.wait_for(lambda: not any(assembly_running(p) for p in folder.glob("*.log")),
                            timeout=timeout), cache_files(None, folder)


def assemblers(folder):
    """Process ids of the java processes that assemble a cache into the folder."""
    found = []
    for entry in Path("/proc").iterdir():
        if entry.name.isdigit():
            try:
                command = (entry / "cmdline").read_bytes().split(b"\0")
            except OSError:
                continue
            if b"-Xshare:dump" in command and any(str(folder).encode() in a for a in command):
                found.append(int(entry.name))
    return found


def settle_runs(app, args, cache, tmp_path, home, expected):
    """Runs until the archive is mapped (a second run, or a third when the
    cache is assembled in between), each run's output checked against
    `expected`; returns the traces."""
    traces = []
    for _ in range(3):
        r, trace = run(app, *args, cache=cache, tmp_path=tmp_path)
        assert (r.returncode, r.stdout, r.stderr, r.log) == expected, trace
        traces.append(trace)
        if "hit " in trace:
            return traces
        if aot(home):
            wait_assembled(folder_of(cache))
    pytest.fail("no hit in three runs:\n" + "\n".join(traces))


@pytest.mark.parametrize("home", RUNTIMES, indirect=True)
def test_second_run_maps_the_classes_with_the_same_output(wrap_probe, tmp_path, home):
    cache = tmp_path / "cache"
    loads = tmp_path / "loads.txt"
    config = f"option -Xlog:class+load=info:file={loads}"
    plain = wrap_probe(config, name="plain", jvmdll=str(libjvm(home)), classdata="off")
    app = wrap_probe(config, name="app", jvmdll=str(libjvm(home)), classdata="auto")
    # "service" loads support classes of class-file version 45.3, which no
    # archive can hold: the VM's notes about them must stay out of sight.
    args = ("/test", "service", "print:hello", "eprint:to stderr", "exit:3")

    reference, _ = run(plain, *args, cache=cache, tmp_path=tmp_path)
    assert reference.returncode == 3 and b"hello" in reference.stdout
    assert b"to stderr" in reference.stderr + reference.log.encode()
    assert cache_files(cache) == []
    expected = (reference.returncode, reference.stdout, reference.stderr, reference.log)

    traces = settle_runs(app, args, cache, tmp_path, home, expected)
    if aot(home):
        assert "classdata cache miss, class list to " in traces[0]
        assert "classdata cache assembly started, log " in traces[0]
        # System.exit: the list was complete when the exit hook ran.
        assert ".classlist (exit hook)" in traces[0]
        assert "classdata cache taken from " in traces[1] and "classdata cache hit " in traces[1]
        source = "probe.Probe source: shared objects file"
        [name] = cache_files(cache)
        assert name.startswith("app-") and name.endswith(".aot")
        assert whole(folder_of(cache) / name, CACHE_MAGIC)
    else:
        assert "classdata miss, dump to " in traces[0]
        assert "classdata moved into place" in traces[0] and "(exit hook)" in traces[0]
        source = "probe.Probe source: shared objects file (top)"
        [name] = cache_files(cache)
        assert name.startswith("app-") and name.endswith(".jsa")
        assert whole(folder_of(cache) / name, DYNAMIC_MAGIC)
    assert source in loads.read_text()
    r, trace = run(app, *args, cache=cache, tmp_path=tmp_path)
    assert "hit " in trace and (r.returncode, r.stdout, r.stderr, r.log) == expected
    assert "[cds]" not in r.log and "[aot]" not in r.log
    assert cache_files(cache) == [name]
    # Created for the user alone.
    for path in (folder_of(cache).parent, folder_of(cache)):
        assert stat.S_IMODE(path.stat().st_mode) == 0o700, path
    assert stat.S_IMODE((folder_of(cache) / name).stat().st_mode) & 0o077 == 0


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


@pytest.mark.parametrize("home", RUNTIMES, indirect=True)
def test_a_rebuilt_file_of_the_same_size_and_time_runs_its_new_code(tmp_path, home):
    cache = tmp_path / "cache"
    config = f"mainclass Ver\njvmdll {libjvm(home)}\n"
    (tmp_path / "app").mkdir()
    (tmp_path / "stage").mkdir()
    a = qlxtest.wrap(qlxtest.STUB_LINUX, build_version(tmp_path, "A"), config,
                     tmp_path / "app" / "ver")
    b = qlxtest.wrap(qlxtest.STUB_LINUX, build_version(tmp_path, "B"), config,
                     tmp_path / "stage" / "ver")
    assert a.stat().st_size == b.stat().st_size
    app = Wrapped(a)
    stamp = a.stat()

    settle_runs(app, ("/test",), cache, tmp_path, home, (0, b"version A\n", b"", ""))
    [old] = in_place(cache)

    shutil.copyfile(b, a)
    os.utime(a, ns=(stamp.st_atime_ns, stamp.st_mtime_ns))
    assert (a.stat().st_size, int(a.stat().st_mtime)) == (stamp.st_size, int(stamp.st_mtime))

    traces = settle_runs(app, ("/test",), cache, tmp_path, home, (0, b"version B\n", b"", ""))
    assert "miss" in traces[0]
    # The new archive replaced the program's old one.
    [new] = in_place(cache)
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
    if killed:
        assert in_place(cache) == []

    r, trace = run(app, "/test", "print:x", cache=cache, tmp_path=tmp_path)
    assert (r.returncode, r.stdout.splitlines()[-1]) == (0, b"x")
    [name] = cache_files(cache)  # the killed run's leftovers are gone
    assert whole(folder / name, DYNAMIC_MAGIC)

    # A damaged archive in place (its head never written) is not used, and
    # a dump of a process that has ended is cleared away.
    archive = folder / name
    data = bytearray(archive.read_bytes())
    data[:16] = bytes(16)
    archive.chmod(0o600)
    archive.write_bytes(bytes(data))
    dead = subprocess.Popen(["true"])
    dead.wait()
    (folder / f"{name}.{dead.pid}.tmp").write_bytes(bytes(4096))

    r, trace = run(app, "/test", "print:x", cache=cache, tmp_path=tmp_path)
    assert (r.returncode, r.stdout.splitlines()[-1]) == (0, b"x")
    assert "classdata miss" in trace and "moved into place" in trace
    assert cache_files(cache) == [name] and whole(archive, DYNAMIC_MAGIC)
    r, trace = run(app, "/test", "print:x", cache=cache, tmp_path=tmp_path)
    assert "classdata hit" in trace


def test_runs_killed_while_they_record_or_assemble_change_nothing(wrap_probe, tmp_path):
    qlxtest.require_jdk25()
    cache = tmp_path / "cache"
    folder = folder_of(cache)
    app = wrap_probe(name="app", jvmdll=str(libjvm(qlxtest.JDK25)), classdata="auto")
    expected = (0, b"argv[0]=print:x\nx\n", b"", "")

    # Killed while it records its class list.
    p = start(app, "/test", "sleep:60000", cache=cache)
    assert qlxtest.wait_for(lambda: any(n.endswith(".tmp") for n in cache_files(cache)), 60)
    p.send_signal(signal.SIGKILL)
    p.communicate(timeout=60)
    assert not any(n.endswith((".classlist", ".aot")) for n in cache_files(cache))

    # The next run records again; its assembly is killed.
    r, trace = run(app, "/test", "print:x", cache=cache, tmp_path=tmp_path)
    assert (r.returncode, r.stdout, r.stderr, r.log) == expected, trace
    assert "class list to" in trace and "assembly started" in trace
    assert qlxtest.wait_for(lambda: assemblers(folder), timeout=30)
    for pid in assemblers(folder):
        os.kill(pid, signal.SIGKILL)
    wait_assembled(folder)
    assert not any(n.endswith(".aot") for n in cache_files(cache))

    # Nothing of that breaks a run. Of two starts at once that find the
    # class list, one assembles the cache again; it is then used.
    runs = [start(app, "/test", "print:x", cache=cache) for _ in range(2)]
    assert [p.communicate(timeout=120) for p in runs] == [expected[1:3]] * 2
    assert [p.returncode for p in runs] == [0, 0]
    assert len([n for n in cache_files(cache) if n.endswith(".log")]) == 2, cache_files(cache)
    wait_assembled(folder)
    traces = settle_runs(app, ("/test", "print:x"), cache, tmp_path, qlxtest.JDK25, expected)
    assert "cache taken from" in traces[0]
    assert [n for n in cache_files(cache) if not n.endswith(".log")] == in_place(cache)


@pytest.mark.parametrize("home", RUNTIMES, indirect=True)
def test_two_first_runs_at_once_leave_one_archive(wrap_probe, tmp_path, home):
    cache = tmp_path / "cache"
    app = wrap_probe(name="app", jvmdll=str(libjvm(home)), classdata="auto")
    runs = [start(app, "/test", "print:same", cache=cache) for _ in range(2)]
    outputs = [p.communicate(timeout=120) for p in runs]
    assert [p.returncode for p in runs] == [0, 0]
    assert outputs[0] == outputs[1]
    if aot(home):
        assert len([n for n in cache_files(cache) if n.endswith(".log")]) == 1
        wait_assembled(folder_of(cache))
    r, trace = run(app, "/test", "print:same", cache=cache, tmp_path=tmp_path)
    assert "hit" in trace and r.stdout == outputs[0][0]
    [name] = in_place(cache)
    assert cache_files(cache) == [name]


@pytest.mark.parametrize("home", RUNTIMES, indirect=True)
def test_a_cache_that_cannot_be_written_changes_nothing(wrap_probe, tmp_path, home):
    blocker = tmp_path / "a-file"
    blocker.write_text("not a folder")
    args = ("/test", "print:out", "exit:0")
    plain = wrap_probe(name="plain", jvmdll=str(libjvm(home)), classdata="off")
    reference, _ = run(plain, *args, cache=blocker, tmp_path=tmp_path)
    cases = [("auto", blocker, "classdata off: "), ("/proc/qlx/classdata", tmp_path / "cache",
                                                      "classdata off: cannot be created")]
    if os.geteuid() != 0:
        locked = tmp_path / "locked"
        locked.mkdir(mode=0o555)
        cases.append(("auto", locked, "classdata off: cannot be created"))
    for setting, cache, said in cases:
        app = wrap_probe(name="app", jvmdll=str(libjvm(home)), classdata=setting)
        r, trace = run(app, *args, cache=cache, tmp_path=tmp_path)
        assert (r.returncode, r.stdout, r.stderr, r.log) == \
            (reference.returncode, reference.stdout, reference.stderr, reference.log), setting
        assert said in trace, trace


@pytest.mark.parametrize("config, env, reason, runtime", [
    ("option -Xshare:off", {}, "the application's options manage class sharing", "jdk17"),
    ("option -XX:-UseSharedSpaces", {}, "the application's options manage class sharing", "jdk17"),
    ("options -Xms8m -XX:-UseSharedSpaces", {}, "the application's options manage class sharing",
     "jdk17"),
    ("export JAVA_TOOL_OPTIONS=-Xshare:auto", {},
     "the VM's options in the environment manage class sharing", "jdk17"),
    ("", {"_JAVA_OPTIONS": "-Xshare:off"},
     "the VM's options in the environment manage class sharing", "jdk17"),
    ("option -XX:Flags={flags}", {}, "an options file the VM reads manages class sharing", "jdk17"),
    ("option -XX:VMOptionsFile={options}", {}, "an options file the VM reads manages class sharing",
     "jdk17"),
    ("option -XX:AOTMode=off", {}, "the application's options manage class sharing", "jdk25"),
    ("option -XX:AOTCache={cache}/own.aot", {}, "the application's options manage class sharing",
     "jdk25"),
    ("classpath {folder}", {}, "the class path names a folder", "jdk17"),
    ("classdata off", {}, "turned off", "jdk17"),
])
def test_nothing_is_added_when_not_wanted(wrap_probe, tmp_path, config, env, reason, runtime):
    if runtime == "jdk25":
        qlxtest.require_jdk25()
    home = qlxtest.JDK25 if runtime == "jdk25" else JDK17
    folder = tmp_path / "classes"
    folder.mkdir()
    (folder / "some.txt").write_text("a folder with files in it")
    flags, options = tmp_path / "flags", tmp_path / "vm.options"
    flags.write_text("+UseCompressedOops\n-UseSharedSpaces\n")
    options.write_text("-Xss2m -Xshare:off\n")
    cache = tmp_path / "cache"
    app = wrap_probe(config.format(folder=folder, flags=flags, options=options, cache=tmp_path),
                     name="app", jvmdll=str(libjvm(home)),
                     classdata=None if "classdata" in config else "auto")
    r, trace = run(app, "/test", "jvmargs", cache=cache, tmp_path=tmp_path, env=env)
    # With JDK 17 a dump on top of sharing switched off would end every start.
    assert r.returncode == 0, r.log
    added = [line for line in r.stdout.decode().splitlines()
             if "Archive" in line or "ClassList" in line or "-Xlog:disable" in line]
    assert added == []
    assert f"classdata off: {reason}" in trace
    assert cache_files(cache) == []


def farm_jdk(real, dest, java=True):
    """A runtime home of links to `real`, with its own copy of the VM
    library and of the base archives (which a test may regenerate or spoil)
    and, with java=True, of the java launcher (which then runs this home);
    java="fail" is a launcher that fails, "noexec" one that cannot be run,
    False none."""
    dest.mkdir()
    for entry in real.iterdir():
        if entry.name not in ("lib", "bin"):
            (dest / entry.name).symlink_to(entry)
    for part in ("lib", "bin"):
        (dest / part).mkdir()
        for entry in (real / part).iterdir():
            if entry.name not in ("server", "java"):
                (dest / part / entry.name).symlink_to(entry)
    (dest / "lib" / "server").mkdir()
    for entry in (real / "lib" / "server").iterdir():
        shutil.copyfile(entry, dest / "lib" / "server" / entry.name)
    if java in ("fail", "noexec"):
        (dest / "bin" / "java").write_text("#!/bin/sh\necho 'the assembly fails' >&2\nexit 1\n")
        (dest / "bin" / "java").chmod(0o755 if java == "fail" else 0o644)
    elif java:
        shutil.copy2(real / "bin" / "java", dest / "bin" / "java")
    return dest


def test_a_vm_that_ends_while_created_with_the_options_stops_later_starts(wrap_probe, tmp_path):
    """A base archive the VM cannot map: on JDK 17 a dump then ends the
    start during VM creation, which no check beforehand sees."""
    farm = farm_jdk(JDK17, tmp_path / "jdk")
    base = farm / "lib" / "server" / "classes.jsa"
    base.write_bytes(bytes(4096))
    cache = tmp_path / "cache"
    app = wrap_probe(name="app", jvmdll=str(libjvm(farm)), classdata="auto")

    r, trace = run(app, "/test", "print:x", cache=cache, tmp_path=tmp_path)
    assert r.returncode == 1 and "VM creation failed with the archive options" in trace
    [note] = [n for n in cache_files(cache) if n.endswith(".refused")]
    for _ in range(2):
        r, trace = run(app, "/test", "print:x", cache=cache, tmp_path=tmp_path)
        assert (r.returncode, r.stdout.splitlines()[-1]) == (0, b"x"), r.log
        assert "an earlier start ended while its VM was created with the archive options" in trace
        assert f"delete {folder_of(cache) / note} to try again" in trace

    # A start killed while its VM was created (no hook runs then) makes the
    # next start add nothing, once.
    shutil.copyfile(JDK17 / "lib" / "server" / "classes.jsa", base)  # a new key
    dead = subprocess.Popen(["true"])
    dead.wait()
    r, trace = run(app, "/test", "print:x", cache=cache, tmp_path=tmp_path)
    assert r.returncode == 0 and "classdata miss" in trace
    [archive] = in_place(cache)
    marker = folder_of(cache) / archive.replace(".jsa", f".{dead.pid}.start")
    marker.write_bytes(b"")
    r, trace = run(app, "/test", "print:x", cache=cache, tmp_path=tmp_path)
    assert r.returncode == 0 and "ended before its VM was created" in trace
    assert "classdata hit" not in trace and not marker.exists()
    r, trace = run(app, "/test", "print:x", cache=cache, tmp_path=tmp_path)
    assert r.returncode == 0 and "classdata hit" in trace


def test_a_regenerated_base_archive_gets_a_new_archive(wrap_probe, tmp_path):
    farm = farm_jdk(JDK17, tmp_path / "jdk")
    cache = tmp_path / "cache"
    loads = tmp_path / "loads.txt"
    app = wrap_probe(f"option -Xlog:class+load=info:file={loads}", name="app",
                     jvmdll=str(libjvm(farm)), classdata="auto")
    expected = (0, b"argv[0]=print:x\nx\n", b"", "")
    settle_runs(app, ("/test", "print:x"), cache, tmp_path, farm, expected)
    [old] = in_place(cache)

    dumper = wrap_probe("option -Xshare:dump", name="dumper", jvmdll=str(libjvm(farm)),
                        classdata="auto")
    before = (farm / "lib" / "server" / "classes.jsa").stat()
    r, trace = run(dumper, "/test", cache=cache, tmp_path=tmp_path)
    assert r.returncode == 0 and "classdata off" in trace
    after = (farm / "lib" / "server" / "classes.jsa").stat()
    assert (after.st_size, after.st_mtime_ns) != (before.st_size, before.st_mtime_ns)

    traces = settle_runs(app, ("/test", "print:x"), cache, tmp_path, farm, expected)
    assert "classdata miss" in traces[0]
    assert "probe.Probe source: shared objects file (top)" in loads.read_text()
    [new] = in_place(cache)
    assert new != old


@pytest.mark.parametrize("java, said", [
    (False, "classdata no java launcher beside the VM ({home}/bin/java): dynamic archive"),
    ("fail", "classdata the cache could not be assembled (see its log): dynamic archive"),
    ("noexec", "classdata cache assembly cannot start (or another run has this try), log"),
])
def test_the_dynamic_archive_where_no_cache_can_be_made(wrap_probe, tmp_path, java, said):
    qlxtest.require_jdk25()
    farm = farm_jdk(qlxtest.JDK25, tmp_path / "jdk", java=java)
    cache = tmp_path / "cache"
    app = wrap_probe(name="app", jvmdll=str(libjvm(farm)), classdata="auto")
    expected = (0, b"argv[0]=print:x\nx\n", b"", "")
    seen = []
    for _ in range(5):
        r, trace = run(app, "/test", "print:x", cache=cache, tmp_path=tmp_path)
        assert (r.returncode, r.stdout, r.stderr, r.log) == expected, trace
        seen.append(trace)
        wait_assembled(folder_of(cache))
        if "classdata hit" in trace:
            break
    assert said.format(home=farm) in "".join(seen)
    assert "classdata hit " + str(folder_of(cache)) in seen[-1]
    assert [n for n in in_place(cache)][0].endswith(".jsa")
    if java:
        logs = [n for n in cache_files(cache) if n.endswith(".log")]
        assert len(logs) == 2
        why = "the assembly fails" if java == "fail" else "cannot start"
        assert why in (folder_of(cache) / logs[0]).read_text()


@pytest.fixture(scope="session")
def other_user():
    """(uid, gid) of a second, unprivileged account, made once."""
    return second_user.second_user(OTHER_USER)


def as_other(user, *command):
    return second_user.run_as(user, command, text=True)


@pytest.fixture
def shared_tmp():
    """A folder like /tmp (sticky, everyone may write) that both users reach."""
    path = Path(tempfile.mkdtemp(prefix="qlx-cds-", dir="/tmp"))
    path.chmod(0o1777)
    yield path
    shutil.rmtree(path, ignore_errors=True)


def test_another_user_cannot_put_an_archive_in_the_way(wrap_probe, tmp_path, other_user,
                                                       shared_tmp):
    args = ("/test", "print:mine")
    expected = (0, b"argv[0]=print:mine\nmine\n", b"", "")

    # A folder the other user made for everyone, as in the attack: refused,
    # and nothing is written into it.
    shared = shared_tmp / "shared-cds"
    assert as_other(other_user, "/usr/bin/mkdir", "-m", "0777", str(shared)).returncode == 0
    app = wrap_probe(name="app", classdata=str(shared))
    r, trace = run(app, *args, cache=tmp_path, tmp_path=tmp_path)
    assert (r.returncode, r.stdout, r.stderr, r.log) == expected
    assert f"classdata off: is owned by another user: {shared}" in trace
    assert list(shared.iterdir()) == []

    # A folder of the program's own that anyone may write: refused as well.
    mine = shared_tmp / "mine"
    own = wrap_probe(name="own", classdata=str(mine))
    settle_runs(own, args, tmp_path, tmp_path, JDK17, expected)
    assert stat.S_IMODE(mine.stat().st_mode) == 0o700
    # The other user cannot even look into it.
    assert as_other(other_user, "/usr/bin/touch", str(mine / "x")).returncode != 0
    [archive] = in_place(None, mine)
    assert stat.S_IMODE((mine / archive).stat().st_mode) & 0o077 == 0
    mine.chmod(0o777)
    r, trace = run(own, *args, cache=tmp_path, tmp_path=tmp_path)
    assert r.returncode == 0 and f"classdata off: is writable by other users: {mine}" in trace
    mine.chmod(0o700)

    # An archive in place that is not the program's alone is never mapped;
    # the next archive takes its place.
    foreign = shared_tmp / "foreign.jsa"
    shutil.copyfile(mine / archive, foreign)
    os.chown(foreign, *other_user)
    cases = [("another user's", lambda p: (shutil.copyfile(foreign, p), os.chown(p, *other_user))),
             ("writable by others", lambda p: (shutil.copyfile(foreign, p), p.chmod(0o666))),
             ("a link", lambda p: p.symlink_to(foreign)),
             ("a second name", lambda p: os.link(second, p))]
    second = shared_tmp / "second-name.jsa"
    shutil.copyfile(mine / archive, second)
    for what, plant in cases:
        target = mine / archive
        target.unlink()
        plant(target)
        r, trace = run(own, *args, cache=tmp_path, tmp_path=tmp_path)
        assert (r.returncode, r.stdout) == expected[:2], what
        assert "classdata miss" in trace and "moved into place" in trace, what
        assert not target.is_symlink() and target.stat().st_uid == os.geteuid(), what
        assert target.stat().st_nlink == 1 and stat.S_IMODE(target.stat().st_mode) & 0o077 == 0
        r, trace = run(own, *args, cache=tmp_path, tmp_path=tmp_path)
        assert "classdata hit" in trace, what
