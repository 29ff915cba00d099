"""Rotation of redirected logs with the Linux launcher on HotSpot: numbered
lines from Java and from a native library through many rotations, with
every line present once and in order across the files, retention, two
instances sharing one log, a rotation that cannot happen, and the ways the
process ends."""
import os
import subprocess
from pathlib import Path

import pytest

import qlxtest
from linux_e2e import Wrapped
from logflood_support import expected, numbers, rotated_in_order

APP = qlxtest.ROOT / "tests" / "apps" / "logflood"


@pytest.fixture(scope="module")
def flood(tmp_path_factory):
    """(jar, native library) of tests/apps/logflood."""
    where = tmp_path_factory.mktemp("flood")
    jar = qlxtest.compile_java(APP / "logflood", where / "flood.jar")
    lib = where / "liblognative.so"
    jdk = qlxtest.JDK / "include"
    subprocess.run(["cc", "-shared", "-fPIC", "-O2", "-I", str(jdk), "-I", str(jdk / "linux"),
                    "-o", str(lib), str(APP / "native" / "lognative.c")], check=True)
    return jar, lib


@pytest.fixture
def make_flood(tmp_path, flood):
    made = []

    def make(config, jvmdll=qlxtest.LIBJVM):
        jar, _ = flood
        text = f"mainclass logflood.Flood\njvmdll {jvmdll}\n{config}\n"
        (tmp_path / "app").mkdir(exist_ok=True)
        app = Wrapped(qlxtest.wrap(qlxtest.STUB_LINUX, jar, text, tmp_path / "app" / "app"))
        made.append(app.path)
        return app
    yield make
    # Every run registers the program in its instance table, which outlives
    # the processes: remove what these programs left.
    for path in made:
        info = path.stat()
        table = Path(f"/dev/shm/qlx-{os.geteuid()}-exe-{info.st_dev}-{info.st_ino}")
        table.unlink(missing_ok=True)


def run_flood(app, flood, tag, count, *extra):
    return app.run("/test", tag, count, "native", flood[1], *extra, timeout=120)


@pytest.mark.parametrize("ending, code", [([], 0), (["exit", "3"], 3)])
def test_size_rotation_keeps_every_line_once_and_in_order(make_flood, flood, ending, code):
    app = make_flood("stdout app.log\nlogrotate 64K\nlogkeep 100")
    result = run_flood(app, flood, "a", 20000, *ending)
    assert (result.returncode, result.stdout) == (code, b"")
    files = rotated_in_order(app.dir / "app.log")
    assert len(files) >= 10
    for f in files[:-1]:
        # Rotation waits for a line end, so a file passes the size by at
        # most one read of the pipe.
        assert 64 * 1024 <= f.stat().st_size <= 128 * 1024, f
    assert numbers(files, "a") == expected(20000)
    assert "Cannot rotate" not in app.log()


def test_retention_and_rotation_at_each_start(make_flood, flood):
    app = make_flood("stdout app.log\nlogrotate 32K, start\nlogkeep 3")
    assert run_flood(app, flood, "b", 100).returncode == 0
    assert run_flood(app, flood, "a", 8000).returncode == 0
    files = rotated_in_order(app.dir / "app.log")
    assert [f.name for f in files] == ["app.log.3", "app.log.2", "app.log.1", "app.log"]
    got = numbers(files, "a")
    # The newest lines, without a gap, up to the last one.
    assert got == expected(8000)[-len(got):] and len(got) > 1500
    assert numbers(files, "b") == []  # the first run's file rotated away at the second start


def test_two_instances_share_one_log(make_flood, flood):
    app = make_flood("stdout app.log\nlogrotate 64K\nlogkeep 1000")
    cmd = lambda tag: [str(app.path), "/test", tag, "15000", "native", str(flood[1])]
    procs = [subprocess.Popen(cmd(tag), cwd=app.dir, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE) for tag in "ab"]
    for p in procs:
        p.communicate(timeout=180)
        assert p.returncode == 0
    files = rotated_in_order(app.dir / "app.log")
    assert len(files) >= 10
    # Each instance's lines all arrive, once each and in its own order,
    # whichever of the two rotated the file.
    assert numbers(files, "a") == expected(15000)
    assert numbers(files, "b") == expected(15000)
    assert "Cannot rotate" not in app.log()


def test_blocked_rotation_warns_once_and_loses_nothing(make_flood, flood):
    app = make_flood("stdout app.log\nlogrotate 16K\nlogkeep 1")
    obstacle = app.dir / "app.log.1"
    obstacle.mkdir()
    (obstacle / "keep").write_text("x")  # a folder where the oldest file must go
    assert run_flood(app, flood, "a", 3000).returncode == 0
    assert numbers([app.dir / "app.log"], "a") == expected(3000)
    warnings = [l for l in app.log().splitlines() if l.startswith("Cannot rotate")]
    assert len(warnings) == 1, app.log()
    assert warnings[0].startswith("Cannot rotate app.log: Is a directory; ")

    (obstacle / "keep").unlink()
    obstacle.rmdir()
    assert run_flood(app, flood, "b", 3000).returncode == 0
    files = rotated_in_order(app.dir / "app.log")
    assert [f.name for f in files] == ["app.log.1", "app.log"]
    assert numbers(files, "b") == expected(3000)[-len(numbers(files, "b")):]


@pytest.mark.parametrize("config, complaint", [
    ("logrotate weekly", 'logrotate "weekly"'),
    ("logrotate 1M\nlogkeep -1", 'logkeep "-1"'),
])
def test_unreadable_values_leave_rotation_off(make_flood, flood, config, complaint):
    app = make_flood(f"stdout app.log\n{config}")
    assert run_flood(app, flood, "a", 500).returncode == 0
    assert rotated_in_order(app.dir / "app.log") == [app.dir / "app.log"]
    assert numbers([app.dir / "app.log"], "a") == expected(500)
    assert app.log().count("Log rotation is off: " + complaint) == 1


def test_a_failed_start_still_reaches_the_rotated_log(make_flood, flood, tmp_path):
    app = make_flood("stdout app.log\nstderr app.log\nlogrotate 1K, start\njre_order c",
                     jvmdll=tmp_path / "missing" / "libjvm.so")
    app.dir.joinpath("app.log").write_bytes(b"before\n")
    result = run_flood(app, flood, "a", 10)
    # The launcher's message also reaches the console it was started from.
    assert result.returncode != 0 and (result.stdout, result.stderr) == (
        b"Java Runtime Environment not found.\n", b"")
    assert (app.dir / "app.log.1").read_bytes() == b"before\n"
    assert (app.dir / "app.log").read_bytes() == b"Java Runtime Environment not found.\n"


def test_the_default_error_log_rotates_too(make_flood, flood, tmp_path):
    app = make_flood("logrotate start\njre_order c", jvmdll=tmp_path / "missing" / "libjvm.so")
    for _ in range(2):
        result = run_flood(app, flood, "a", 10)
        assert result.stdout == b"Java Runtime Environment not found.\n"
    assert [f.name for f in rotated_in_order(app.stderr_log)] == ["app.stderr.log.1",
                                                                  "app.stderr.log"]
    for f in rotated_in_order(app.stderr_log):
        assert f.read_bytes() == b"Java Runtime Environment not found.\n"
