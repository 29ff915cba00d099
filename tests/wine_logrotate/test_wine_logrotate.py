"""Rotation of redirected logs under Wine with a real Java program on Avian:
numbered lines from Java and from a native library through many rotations,
every line once and in order across the files, retention, two instances
sharing one log, a log held open by another program at rotation time, and
the plain log untouched without the keys. Then what must not hang or aim
it: a process holding a lock under the old predictable name or the lock
itself, and a log file of another user."""
import os
import re
import shutil
import subprocess
import time

import pytest

import qlxtest
from logflood_support import expected, numbers, rotated_in_order


class Flood:
    def __init__(self, directory, jar, dll, config):
        directory.mkdir(parents=True, exist_ok=True)
        self.dir = directory
        self.dll = dll
        text = "mainclass logflood.Flood\n" + qlxtest.avian_config() + config + "\n"
        self.exe = qlxtest.wrap(qlxtest.STUB_WIN, jar, text, directory / "app.exe")
        self.log = directory / "app.log"
        self.stderr_log = directory / "app.exe.stderr.log"

    def command(self, tag, count, *extra):
        return ["wine", str(self.exe), "/test", tag, str(count), "native",
                qlxtest.wine_path(self.dll), *map(str, extra)]

    def run(self, tag, count, *extra):
        return subprocess.run(self.command(tag, count, *extra), env=qlxtest.wine_env(),
                              cwd=self.dir, capture_output=True, timeout=300)

    def errors(self):
        return self.stderr_log.read_text(errors="replace") if self.stderr_log.exists() else ""


@pytest.fixture
def make_flood(tmp_path, flood):
    return lambda config, name="app": Flood(tmp_path / name, *flood, config)


@pytest.mark.parametrize("ending, code", [([], 0), (["exit", "3"], 3)])
def test_size_rotation_keeps_every_line_once_and_in_order(make_flood, ending, code):
    app = make_flood("stdout app.log\nlogrotate 48K\nlogkeep 100")
    result = app.run("a", 8000, *ending)
    assert (result.returncode, result.stdout) == (code, b""), app.errors()
    files = rotated_in_order(app.log)
    assert len(files) >= 6
    for f in files[:-1]:
        assert 48 * 1024 <= f.stat().st_size <= 112 * 1024, f
    assert numbers(files, "a") == expected(8000)
    assert "Cannot rotate" not in app.errors()


def test_retention_keeps_the_newest(make_flood):
    app = make_flood("stdout app.log\nlogrotate 16K\nlogkeep 2")
    assert app.run("a", 3000).returncode == 0
    files = rotated_in_order(app.log)
    assert [f.name for f in files] == ["app.log.2", "app.log.1", "app.log"]
    got = numbers(files, "a")
    assert got == expected(3000)[-len(got):] and len(got) > 600


def test_two_instances_share_one_log(make_flood):
    app = make_flood("stdout app.log\nlogrotate 32K\nlogkeep 1000")
    procs = [subprocess.Popen(app.command(tag, 5000), env=qlxtest.wine_env(), cwd=app.dir,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE) for tag in "ab"]
    for p in procs:
        p.communicate(timeout=300)
        assert p.returncode == 0
    files = rotated_in_order(app.log)
    assert len(files) >= 8
    assert numbers(files, "a") == expected(5000)
    assert numbers(files, "b") == expected(5000)
    assert "Cannot rotate" not in app.errors()


def test_log_held_open_elsewhere(make_flood, holdopen, tmp_path):
    app = make_flood("stdout app.log\nlogrotate 16K\nlogkeep 2")
    ready, release = tmp_path / "ready", tmp_path / "release"
    holder = subprocess.Popen(["wine", str(holdopen), qlxtest.wine_path(app.log),
                               qlxtest.wine_path(ready), qlxtest.wine_path(release)],
                              env=qlxtest.wine_env(), stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    try:
        assert qlxtest.wait_for(ready.exists, 60)
        result = app.run("a", 2000)
        assert result.returncode == 0
        # Nothing moved, nothing lost, and one line says why.
        assert rotated_in_order(app.log) == [app.log]
        assert numbers([app.log], "a") == expected(2000)
        warnings = [l for l in app.errors().splitlines() if l.startswith("Cannot rotate")]
        assert warnings == ["Cannot rotate app.log: another program has it open; output goes on "
                            "into it."], app.errors()
    finally:
        release.touch()
        holder.wait(timeout=60)
    assert app.run("b", 2000).returncode == 0
    files = rotated_in_order(app.log)
    assert [f.name for f in files] == ["app.log.2", "app.log.1", "app.log"]
    got = numbers(files, "b")
    assert got == expected(2000)[-len(got):]


def test_without_the_keys_the_log_is_a_plain_file(make_flood):
    app = make_flood("stdout app.log")
    app.log.write_bytes(b"kept\r\n")
    assert app.run("a", 2000).returncode == 0
    assert rotated_in_order(app.log) == [app.log]
    data = app.log.read_bytes()
    assert data.startswith(b"kept\r\n")
    assert numbers([app.log], "a", skip=1) == expected(2000)


@pytest.mark.parametrize("ending, code", [("exit 3", 3), ("return", 0)])
def test_the_last_lines_arrive_when_the_vm_ends_the_process(tmp_path, ending, code):
    # The stand-in VM ends System.exit the way HotSpot does on Windows: the
    # exit hook, then ExitProcess, so the runtime's exit handlers never run.
    double = qlxtest.BUILD_WIN / "tests" / "jvmdouble" / "jvm.dll"
    if not double.exists():
        pytest.fail(f"stand-in jvm.dll is missing: {double} (build the Windows tree first)")
    where = tmp_path / "double"
    where.mkdir()
    shutil.copy(double, where / "jvm.dll")
    exe = qlxtest.wrap(qlxtest.STUB_WIN, qlxtest.make_jar(where / "app.jar"),
                       "mainclass sample.Main\njvmdll jvm.dll\njre_order c\nstdout out.log\n"
                       "logrotate 1M\n", where / "app.exe")
    script = ";".join(f"print line {n}" for n in range(300)) + ";" + ending
    result = qlxtest.run_wine(exe, "/test", cwd=where,
                              env={"QLX_JVM_SCRIPT": script, "JAVA_HOME": "", "JRE_HOME": ""})
    assert (result.returncode, result.stdout) == (code, b"")
    assert (where / "out.log").read_bytes() == b"".join(b"line %d\n" % n for n in range(300))


def old_lock_name(log):
    """The rotation lock's name before it carried the user: anyone could make it."""
    value = 1469598103934665603
    for byte in qlxtest.wine_path(log).upper().replace("/", "\\").encode():
        value = ((value ^ byte) * 1099511628211) & (2**64 - 1)
    return f"log-{value:016x}.qlx.mutex"


def current_lock_name(app, tmp_path):
    """The lock's name as the start-up trace gives it."""
    trace = tmp_path / "trace.txt"
    result = subprocess.run(app.command("x", 1), cwd=app.dir, capture_output=True, timeout=300,
                            env=qlxtest.wine_env({"_BROVANE_TRACE_": qlxtest.wine_path(trace)}))
    assert result.returncode == 0
    names = re.findall(r"rotation lock of app\.log: (\S+)", trace.read_text(errors="replace"))
    assert names and names[0].startswith("Local\\qlx.S-1-5-"), names
    return names[0]


@pytest.mark.parametrize("which, rotates, warning", [
    # Before, every write waited for it without a bound.
    ("old", True, None),
    ("current", False, "Cannot rotate app.log: another process held the rotation lock for 2 s; "
                       "output goes on into it."),
])
def test_a_process_holding_a_lock_name_cannot_hang_the_program(make_flood, holdmutex, tmp_path,
                                                              which, rotates, warning):
    app = make_flood("stdout app.log\nlogrotate 16K\nlogkeep 100")
    name = old_lock_name(app.log) if which == "old" else current_lock_name(app, tmp_path)
    for old in app.dir.glob("app.log*"):
        old.unlink()
    ready, release = tmp_path / "ready", tmp_path / "release"
    holder = subprocess.Popen(["wine", str(holdmutex), name, qlxtest.wine_path(ready),
                               qlxtest.wine_path(release)], env=qlxtest.wine_env(),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        assert qlxtest.wait_for(ready.exists, 60)
        began = time.monotonic()
        # Paced, so the log is past its size while the program still runs:
        # output left in the pipe at the end is written without rotating.
        result = app.run("a", 3000, "pace", 100)
        assert result.returncode == 0, app.errors()
        assert time.monotonic() - began < 120
    finally:
        release.touch()
        holder.wait(timeout=60)
    files = rotated_in_order(app.log)
    assert (len(files) > 3) == rotates
    assert numbers(files, "a") == expected(3000)
    warnings = [line for line in app.errors().splitlines() if line.startswith("Cannot")]
    assert warnings == ([warning] if warning else [])


@pytest.mark.parametrize("config", ["stdout app.log", "stdout app.log\nlogrotate 1M"])
def test_a_log_file_of_another_user_is_refused(make_flood, config):
    if os.geteuid() != 0:
        pytest.skip("giving a file to another user needs root")
    app = make_flood(config)
    app.log.write_bytes(b"theirs\n")
    os.chown(app.log, 65534, 65534)  # Wine shows another owner than the user
    result = app.run("a", 300)
    assert result.returncode == 0
    console = result.stdout.decode(errors="replace").splitlines()
    assert console[0] == "Standard output cannot be written to app.log: it belongs to another user."
    assert len([line for line in console if line.startswith("a ")]) == 300
    assert app.log.read_bytes() == b"theirs\n"
