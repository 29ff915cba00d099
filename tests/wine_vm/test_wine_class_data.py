"""The class-data archive under Wine. With the stand-in VM in a home that
says HotSpot 17: the options ahead of the application's, the archive in
%LOCALAPPDATA%\\qlx\\classdata, moved into place from the exit hook
(System.exit) or after DestroyJavaVM, and used by the next run. In a home
that says 25, with the stand-in java.exe beside it: the class list, the
detached assembly with only the options it may have, and the cache the next
run takes; when the assembly keeps failing, the dynamic archive. A VM that
aborts while it is created with the options stops the next start from
adding them. What Wine shows of owners and DACLs (it derives them from the
Unix owner and mode, and keeps no DACL of its own): the folders the
launcher makes are the user's alone, and one that everyone may write, or
that another user owns, is refused. With Avian: nothing is added
to a runtime without a HotSpot release file, and the options a HotSpot home
would get do not break a run either."""
import os
import re
import shutil
import subprocess
from pathlib import Path, PureWindowsPath

import pytest

import qlxtest
import wine_vm_support
from wine_vm_support import DOUBLES, place_double, win

HERE = Path(__file__).resolve().parent
LOG_17 = ["-Xlog:disable", "-Xlog:all=warning,cds*=off:stdout"]
LOG_25 = ["-Xlog:disable", "-Xlog:all=warning,cds*=off,aot*=off:stdout"]


@pytest.fixture(scope="module")
def local_app_data():
    """%LOCALAPPDATA% as a program in the prefix sees it, and its Linux path."""
    r = subprocess.run(["wine", "cmd", "/c", "echo", "%LOCALAPPDATA%"], env=qlxtest.wine_env(),
                       capture_output=True, timeout=120)
    windows = r.stdout.decode("utf-8", "replace").strip()
    assert windows[1:3] == ":\\", windows
    r = subprocess.run(["winepath", "-u", windows], env=qlxtest.wine_env(), capture_output=True,
                       timeout=120)
    return windows, Path(r.stdout.decode().strip())


@pytest.fixture(scope="module")
def acl_probe(tmp_path_factory):
    return qlxtest.compile_windows_helper(HERE / "acl_probe.c", tmp_path_factory.mktemp("acl"),
                                          libs=("advapi32",))


def security_of(probe, path, *mode):
    r = qlxtest.run_wine(probe, *mode, win(path), timeout=60)
    assert r.returncode == 0, r.stdout
    return r.stdout.decode().replace("\r\n", "\n").splitlines()


def hotspot_home(root, version="17.0.15", java=False):
    """A runtime home that claims HotSpot `version`; returns where its VM library goes."""
    server = Path(root) / "bin" / "server"
    server.mkdir(parents=True, exist_ok=True)
    (server / "classes.jsa").write_bytes(b"")
    (Path(root) / "release").write_text(f'JAVA_VERSION="{version}"\n')
    if java:
        (Path(root) / "bin" / "java.exe").write_bytes((DOUBLES / "java.exe").read_bytes())
    return server / "jvm.dll"


@pytest.fixture
def program_files(local_app_data):
    """Removes what the test's programs leave in the user's cache."""
    tags = []
    yield tags
    folder = local_app_data[1] / "qlx" / "classdata"
    for tag in tags:
        for path in folder.glob(tag + "-*"):
            path.chmod(0o644)
            path.unlink()


def traced(tmp_path):
    trace = tmp_path / "trace.txt"
    if trace.exists():
        trace.unlink()
    return trace, {"_BROVANE_TRACE_": win(trace)}


def tag_in(trace_text):
    """The program's tag in the cache folder's names the trace mentions."""
    return re.search(r"\\(app-[0-9a-f]{8})-[0-9a-f]{32}", trace_text).group(1)


def calls(app):
    return app.log_path.read_text() if app.log_path.exists() else ""


@pytest.fixture
def wine_stderr_dropped(monkeypatch):
    """Runs whose Unix standard error is not read: Wine hands it to every
    process a program starts (for its own debug output), so a reader would
    wait for the detached assembly, which Windows never makes it do."""
    real = subprocess.run

    def run(command, **options):
        if options.pop("capture_output", False):
            options.update(stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            result = real(command, **options)
            result.stderr = b""
            return result
        return real(command, **options)
    monkeypatch.setattr(wine_vm_support.subprocess, "run", run)


def wait_for_file(folder, pattern, timeout=60):
    assert qlxtest.wait_for(lambda: any(folder.glob(pattern)), timeout=timeout), \
        sorted(p.name for p in folder.iterdir())
    return next(folder.glob(pattern))


@pytest.mark.parametrize("script, code, when", [
    ("exit 3", 3, "(exit hook)"),
    (None, 0, "(after DestroyJavaVM)"),
])
def test_archive_options_cache_and_move(make_app, tmp_path, local_app_data, program_files,
                                        acl_probe, script, code, when):
    dll = place_double(hotspot_home(tmp_path / "rt"))
    app = make_app(f"mainclass app.Main\njvmdll {win(dll)}\noption -Dconfigured=1\n")
    trace, env = traced(tmp_path)
    # The folders are the launcher's to make (a prefix kept from an older
    # build may hold them with other rights).
    shutil.rmtree(local_app_data[1] / "qlx", ignore_errors=True)

    first = app.run("/test", env=env, script=script)
    assert first.returncode == code, first.explain()
    folder = local_app_data[0] + "\\qlx\\classdata\\"
    dump = first.options[2]
    # The VM's warnings stay on standard output; the archive's own notes go nowhere.
    assert first.options[:2] == LOG_17
    assert dump.startswith("-XX:ArchiveClassesAtExit=" + folder) and dump.endswith(".tmp")
    assert first.options[3] == "-Dconfigured=1"
    archive = PureWindowsPath(dump.split("=", 1)[1].rsplit(".", 2)[0])
    program_files.append(archive.name.rsplit("-", 1)[0])
    # The VM wrote the archive, then the launcher moved it.
    log = first.log
    if script:
        assert log.index("archive written " + dump.split("=", 1)[1]) < log.index("exit hook 3")
    text = trace.read_text()
    assert f"classdata moved into place {archive} {when}" in text
    cached = local_app_data[1] / "qlx" / "classdata"
    assert sorted(p.name for p in cached.glob(program_files[-1] + "-*")) == [archive.name]

    second = app.run("/test", env=env, script=script)
    assert second.returncode == code, second.explain()
    assert second.options[:3] == LOG_17 + [f"-XX:SharedArchiveFile={archive}"]
    assert not any(line.startswith("archive written") for line in second.log)
    assert second.stdout == first.stdout
    # The folders it made: the user's (and the system's), no one else's.
    for path in (cached.parent, cached):
        lines = security_of(acl_probe, path)
        owner = lines[0].split()[1]
        assert owner.startswith("S-1-5-21-"), lines
        trustees = {line.split()[-1] for line in lines if line.startswith("ace ")}
        assert trustees <= {owner, "S-1-5-18"}, lines


@pytest.mark.parametrize("script, code, when", [
    (None, 0, "(after DestroyJavaVM)"),
    ("exit 3", 3, "(exit hook)"),  # as a service's stop ends the VM
])
def test_ahead_of_time_cache_assembled_detached_and_taken(make_app, tmp_path, local_app_data,
                                                          program_files, wine_stderr_dropped,
                                                          script, code, when):
    dll = place_double(hotspot_home(tmp_path / "rt", "25.0.3", java=True))
    app = make_app(f"mainclass app.Main\njvmdll {win(dll)}\noption -Xmx64m\noption -Dapp.mode=x\n"
                   "option -agentlib:jdwp=transport=dt_socket,server=y,address=5005\n"
                   "export JAVA_TOOL_OPTIONS=-Xss2m -Dtool=1\n")
    trace, env = traced(tmp_path)
    env["QLX_JAVA_SLEEP"] = "5000"  # the assembly outlives the run

    first = app.run("/test", env=env, script=script)
    assert first.returncode == code, first.explain()
    assert first.options[:2] == LOG_25
    listing = first.options[2]
    assert listing.startswith("-XX:DumpLoadedClassList=" + local_app_data[0]) and \
        listing.endswith(".tmp")
    base = PureWindowsPath(listing.split("=", 1)[1]).name.split(".classlist.")[0]
    program_files.append(base.rsplit("-", 1)[0])
    text = trace.read_text()
    assert "classdata moved into place" in text and f".classlist {when}" in text
    assert "classdata cache assembly started, log" in text

    # The run ended long before the assembly did; the assembly got the
    # class list, the class path as -cp and the options that shape the
    # cache, none that act outside the VM, and no option variables.
    cached = local_app_data[1] / "qlx" / "classdata"
    assert not any(cached.glob(base + ".aot.*.tmp")), calls(app)
    made = wait_for_file(cached, base + ".aot.*.tmp")
    assert qlxtest.wait_for(lambda: "java wrote" in calls(app), timeout=60)
    lines = calls(app).splitlines()
    [command] = [line[5:].split("|") for line in lines if line.startswith("java -")]
    assert command[:2] == ["-Xshare:dump", f"-XX:SharedClassListFile={local_app_data[0]}"
                           f"\\qlx\\classdata\\{base}.classlist"]
    assert command[2] == f"-XX:SharedArchiveFile={local_app_data[0]}\\qlx\\classdata\\{made.name}"
    assert command[3:] == ["-XX:+AOTClassLinking", "-Xss2m", "-Xmx64m", "-cp",
                           win(app.exe) + ";"]
    assert "java env JAVA_TOOL_OPTIONS unset" in lines

    trace, env = traced(tmp_path)
    second = app.run("/test", env=env, script=script)
    assert second.returncode == code, second.explain()
    cache = f"{local_app_data[0]}\\qlx\\classdata\\{base}.aot"
    assert second.options[:3] == LOG_25 + [f"-XX:AOTCache={cache}"]
    assert "classdata cache taken from" in trace.read_text()
    assert second.stdout == first.stdout
    # The class list, the assembly's log and output have served.
    assert sorted(p.name for p in cached.glob(base + "*")) == [base + ".aot"]
    third = app.run("/test", env=env, script=script)
    assert third.options[:3] == second.options[:3]


def test_dynamic_archive_once_the_assembly_failed_twice(make_app, tmp_path, local_app_data,
                                                        program_files):
    dll = place_double(hotspot_home(tmp_path / "rt", "25.0.3", java=True))
    app = make_app(f"mainclass app.Main\njvmdll {win(dll)}\n")
    cached = local_app_data[1] / "qlx" / "classdata"
    added = []
    for _ in range(3):
        trace, env = traced(tmp_path)
        r = app.run("/test", env={**env, "QLX_JAVA_FAIL": "1"})
        assert r.returncode == 0, r.explain()
        text = trace.read_text()
        added.append(r.options[2] if r.options[:2] == LOG_25 else None)
        if len(added) == 1:
            program_files.append(tag_in(text))
        if len(added) < 3:
            # Each assembly has ended before the next start looks.
            assert qlxtest.wait_for(lambda: "java failed" in calls(app), timeout=60), calls(app)
            assert qlxtest.wait_for(lambda: not any(
                "-aot" in p.name for p in cached.glob(program_files[-1] + "-*.tmp")), timeout=5)
    # Recorded; assembled again in the background; then the dynamic archive.
    assert added[0].startswith("-XX:DumpLoadedClassList=") and added[1] is None
    assert added[2].startswith("-XX:ArchiveClassesAtExit=")
    assert "the cache could not be assembled (see its log): dynamic archive" in text
    logs = sorted(cached.glob(program_files[-1] + "-*.aot.*.log"))
    assert len(logs) == 2 and all("stand-in assembly fails" in p.read_text() for p in logs)


def test_a_vm_that_aborts_with_the_options_stops_the_next_start_adding_them(
        make_app, tmp_path, local_app_data, program_files):
    dll = place_double(hotspot_home(tmp_path / "rt"))
    app = make_app(f"mainclass app.Main\njvmdll {win(dll)}\n")
    trace, env = traced(tmp_path)
    failed = app.run("/test", env={**env, "QLX_JVM_CREATE": "abort"})
    assert failed.returncode == 1 and "abort hook" in failed.log, failed.explain()
    assert "noted in" in trace.read_text()
    cached = local_app_data[1] / "qlx" / "classdata"
    program_files.append(tag_in(trace.read_text()))
    [note] = cached.glob(program_files[-1] + "-*.refused")

    for _ in range(2):
        trace, env = traced(tmp_path)
        r = app.run("/test", env=env)
        assert r.returncode == 0, r.explain()
        assert not any("Archive" in o or o.startswith("-Xlog") for o in r.options)
        assert "an earlier start ended while its VM was created" in trace.read_text()
    # A start that fails without the options as well shows they were not
    # the cause: the note goes.
    app.run("/test", env={"QLX_JVM_CREATE": "abort"})
    assert not note.exists()


@pytest.mark.parametrize("spoil, reason", [
    ("everyone", "is writable by other users"),
    ("chmod", "is writable by other users"),
    ("owner", "is owned by another user"),
])
def test_a_folder_others_can_change_is_refused(make_app, tmp_path, acl_probe, spoil, reason):
    dll = place_double(hotspot_home(tmp_path / "rt"))
    shared = tmp_path / "shared"
    shared.mkdir(mode=0o700)
    if spoil == "everyone":
        assert any(line.endswith("S-1-1-0") for line in security_of(acl_probe, shared, "open"))
    elif spoil == "chmod":
        shared.chmod(0o777)
    else:
        os.chown(shared, 65534, 65534)
    app = make_app(f"mainclass app.Main\njvmdll {win(dll)}\nclassdata {win(shared)}\n")
    trace, env = traced(tmp_path)
    r = app.run("/test", env=env)
    assert r.returncode == 0, r.explain()
    assert not any("Archive" in o or o.startswith("-Xlog") for o in r.options)
    assert f"classdata off: {reason}: {win(shared)}" in trace.read_text()
    assert list(shared.iterdir()) == []


@pytest.fixture(scope="module")
def avian_jar(tmp_path_factory):
    return qlxtest.avian_app_jar("hello", tmp_path_factory.mktemp("avian") / "hello.jar")


def test_avian_runs_unchanged(tmp_path, avian_jar):
    outputs = []
    for name, dll, added in (("shipped", qlxtest.AVIAN / "jvm.dll", False),
                             ("claimed", hotspot_home(tmp_path / "rt"), True)):
        if added:
            dll.write_bytes((qlxtest.AVIAN / "jvm.dll").read_bytes())
        config = (f"mainclass sample.Hello\njvmdll {win(dll)}\njre_order c\n"
                  f"option -Davian.bootstrap={win(dll)}\noption -Djava.version=1.8.0_avian\n"
                  f"classdata {win(tmp_path / 'cache')}\n")
        (tmp_path / name).mkdir()
        exe = qlxtest.wrap(qlxtest.STUB_WIN, avian_jar, config, tmp_path / name / "hello.exe")
        trace = tmp_path / f"{name}.txt"
        r = qlxtest.run_wine(exe, "/test", "a", env={"_BROVANE_TRACE_": win(trace)}, timeout=120)
        text = trace.read_text()
        assert r.returncode == 0, text
        outputs.append(r.stdout.replace(name.encode(), b"NAME"))
        if added:
            # Avian ignores the options and writes no archive: nothing is moved.
            assert "vm option -XX:ArchiveClassesAtExit=" in text
            assert "classdata no archive written" in text
        else:
            assert "classdata off: no release file" in text
            assert "vm option -Xlog" not in text
    assert outputs[0] == outputs[1] and b"Hello from a wrapped Java application." in outputs[0]
