"""Rotation of redirected logs with the Linux launcher on HotSpot: numbered
lines from Java and from a native library through many rotations, with
every line present once and in order across the files, retention, two
instances sharing one log, a rotation that cannot happen, and the ways the
process ends. Then what must not hurt it: another user (a lock held, a link
or a file planted), children that outlive the program, progress output
without line feeds, a full disk, and a log that cannot be opened."""
import os
import re
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

import pytest

import qlxtest
from linux_e2e import Wrapped
from logflood_support import LINE, expected, numbers, rotated_in_order
from second_user import popen_as, run_as, second_user

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

    def make(config, jvmdll=qlxtest.LIBJVM, where=None):
        jar, _ = flood
        text = f"mainclass logflood.Flood\njvmdll {jvmdll}\n{config}\n"
        where = where or tmp_path / "app"
        where.mkdir(exist_ok=True)
        app = Wrapped(qlxtest.wrap(qlxtest.STUB_LINUX, jar, text, where / "app"))
        info = app.path.stat()
        made.append(Path(f"/dev/shm/qlx-{os.geteuid()}-exe-{info.st_dev}-{info.st_ino}"))
        return app
    yield make
    # Every run registers the program in its instance table, which outlives
    # the processes: remove what these programs left.
    for table in made:
        table.unlink(missing_ok=True)


def run_flood(app, flood, tag, count, *extra):
    return app.run("/test", tag, count, "native", flood[1], *extra, timeout=120)


@pytest.mark.parametrize("ending, code", [([], 0), (["exit", "3"], 3)])
def test_size_rotation_keeps_every_line_once_and_in_order(make_flood, flood, ending, code):
    app = make_flood("stdout app.log\nlogrotate 64K\nlogkeep 100")
    result = run_flood(app, flood, "a", 20000, *ending)
    assert (result.returncode, result.stdout) == (code, b"")
    files = rotated_in_order(app.dir / "app.log")
    assert len(files) >= 8  # about 1 MB in files of at most 128 KB
    for f in files[:-1]:
        # Rotation waits for a line end, so a file passes the size by at
        # most one read of the pipe (a loaded machine reads larger ones).
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


# --- What must not hurt a rotated log ------------------------------------------


@pytest.fixture
def shared_dir():
    """A folder every user may write into (pytest's own folders are private)."""
    where = Path(tempfile.mkdtemp(prefix="qlx-shared-"))
    where.chmod(0o777)
    yield where
    shutil.rmtree(where, ignore_errors=True)


def rotation_warnings(app):
    return [line for line in app.log().splitlines() if line.startswith("Cannot ")]


@pytest.mark.parametrize("holder, lock_target, rotates, warning", [
    # Before: an flock on the log's folder, which anyone who can read it can take.
    ("other", "folder", True, None),
    ("other", "lock file", False, "Cannot rotate app.log: its lock file app.log.lock belongs to "
                                  "another user; output goes on into it."),
    # One of the user's own processes, stuck with the lock: the wait is bounded.
    ("self", "lock file", False, "Cannot rotate app.log: another process held the rotation lock "
                                 "for 2 s; output goes on into it."),
])
def test_nobody_can_hold_the_rotation_lock_for_long(make_flood, flood, shared_dir, holder,
                                                   lock_target, rotates, warning):
    other = second_user()
    app = make_flood("stdout app.log\nlogrotate 16K\nlogkeep 100", where=shared_dir)
    target = shared_dir if lock_target == "folder" else shared_dir / "app.log.lock"
    hold = ["/usr/bin/flock", str(target), "/usr/bin/sleep", "120"]
    holding = popen_as(other, hold) if holder == "other" else subprocess.Popen(hold)
    try:
        assert qlxtest.wait_for(target.exists, 10)
        time.sleep(0.5)  # the holder has its lock
        began = time.monotonic()
        # Paced, so the pump keeps up and meets each size while the program runs.
        result = run_flood(app, flood, "a", 3000, "pace", 100)
        assert result.returncode == 0, app.log()
        assert time.monotonic() - began < 40
        files = rotated_in_order(app.dir / "app.log")
        assert (len(files) > 3) == rotates
        assert numbers(files, "a") == expected(3000)
        assert rotation_warnings(app) == ([warning] if warning else [])
    finally:
        holding.kill()
        holding.wait()
    if lock_target == "folder":
        # The lock is a file only the user can open.
        lock = shared_dir / "app.log.lock"
        assert (lock.stat().st_uid, lock.stat().st_mode & 0o777) == (os.geteuid(), 0o600)
        taken = run_as(other, ["/usr/bin/flock", "-n", str(lock), "/usr/bin/true"])
        assert taken.returncode != 0


EXCHANGE_WITH_LINK = """
import ctypes, os, sys
os.symlink(sys.argv[1], "moved")
libc = ctypes.CDLL(None, use_errno=True)
AT_FDCWD, RENAME_EXCHANGE = -100, 2
if libc.renameat2(AT_FDCWD, b"app.log", AT_FDCWD, b"moved", RENAME_EXCHANGE) != 0:
    sys.exit(os.strerror(ctypes.get_errno()))
"""


@pytest.fixture
def root_only_file(tmp_path):
    secret = tmp_path / "root-only"
    secret.write_bytes(b"secret\n")
    secret.chmod(0o600)
    return secret


def test_a_link_planted_after_a_rename_is_not_followed(make_flood, flood, shared_dir,
                                                       root_only_file):
    other = second_user()
    app = make_flood("stdout app.log\nlogrotate 10M", where=shared_dir)
    log = shared_dir / "app.log"
    run = subprocess.Popen([str(app.path), "/test", "a", "4000", "native", str(flood[1]), "pace",
                            "100"], cwd=shared_dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        assert qlxtest.wait_for(lambda: log.exists() and log.stat().st_size > 20000, 60)
        # The link and the log change places in one step, so the program cannot
        # create a new log between a move and the link.
        swap = run_as(other, ["/usr/bin/python3", "-c", EXCHANGE_WITH_LINK, str(root_only_file)],
                      cwd=shared_dir)
        assert swap.returncode == 0, swap.stderr
        run.communicate(timeout=120)
    finally:
        run.kill()
    assert run.returncode == 0
    assert root_only_file.read_bytes() == b"secret\n"
    # Every line went on into the file that was moved.
    assert numbers([shared_dir / "moved"], "a") == expected(4000)
    assert rotation_warnings(app) == [
        "Cannot follow app.log into its new file: it is a symbolic link; output goes on into the "
        "file it was moved to."]


@pytest.mark.parametrize("rotation", ["", "logrotate 1M\n"])
@pytest.mark.parametrize("planted, problem", [
    ("file", "it belongs to another user"),
    ("link", None),  # the wording depends on whether the log is rotated
])
def test_a_log_that_another_user_planted_is_refused(make_flood, flood, shared_dir, root_only_file,
                                                    rotation, planted, problem):
    other = second_user()
    app = make_flood("stdout app.log\n" + rotation, where=shared_dir)
    plant = ("echo theirs > app.log && chmod 666 app.log" if planted == "file"
             else f"ln -s {root_only_file} app.log")
    assert run_as(other, ["/bin/sh", "-c", plant], cwd=shared_dir).returncode == 0
    result = run_flood(app, flood, "a", 300)
    assert result.returncode == 0
    if problem is None:
        problem = ("it is a symbolic link" if rotation
                   else "it is a symbolic link that belongs to another user")
    # Said once where the output stayed: the console, which then has every line.
    console = result.stdout.decode().splitlines()
    assert console[0] == f"Standard output cannot be written to app.log: {problem}."
    assert [line for line in console if line.startswith("Standard output")] == [console[0]]
    assert len([line for line in console if LINE.match(line.encode())]) == 300
    assert root_only_file.read_bytes() == b"secret\n"
    if planted == "file":
        assert (shared_dir / "app.log").read_bytes() == b"theirs\n"


def test_children_that_outlive_the_program_keep_writing_into_the_log(make_flood, flood, tmp_path):
    app = make_flood("stdout app.log\nlogrotate 1M")
    done = tmp_path / "child-done"
    child = ("sleep 2; i=0; while [ $i -lt 300 ]; do echo child $i; i=$((i+1)); done; "
             f"echo finished > {done}")
    result = run_flood(app, flood, "a", 200, "child", child)
    assert result.returncode == 0
    # Before, the child died of SIGPIPE at its first line, the pipe's reader gone.
    assert qlxtest.wait_for(done.exists, 30)
    assert qlxtest.wait_for(lambda: b"child 299\n" in (app.dir / "app.log").read_bytes(), 10)
    lines = (app.dir / "app.log").read_bytes().split(b"\n")
    assert [line for line in lines if line.startswith(b"child")] == [b"child %d" % n
                                                                     for n in range(300)]
    flood_lines = [LINE.match(line) for line in lines if line.startswith(b"a ")]
    assert [(int(m.group(2)), m.group(3).decode()) for m in flood_lines] == expected(200)


def test_progress_output_without_line_feeds_still_rotates(make_flood, flood):
    app = make_flood("stdout app.log\nlogrotate 64K\nlogkeep 1000")
    count = 150000
    result = run_flood(app, flood, "a", 100, "progress", count)
    assert result.returncode == 0
    files = rotated_in_order(app.dir / "app.log")
    assert len(files) >= 20  # 2.8 MB of progress: before, one file of them all
    data = [f.read_bytes() for f in files]
    for f, content in zip(files[:-1], data):
        # Cut past the slack, at the last carriage return (or at a line end).
        assert 64 * 1024 <= len(content) <= 128 * 1024 and content[-1:] in (b"\r", b"\n"), f
    joined = b"".join(data)
    progress, rest = joined.split(b"\n", 1)
    assert progress.split(b"\r") == [b""] + [b"a progress %d" % n for n in range(count)]
    assert [(int(m.group(2)), m.group(3).decode()) for m in map(LINE.match, rest.split(b"\n")[:-1])
            ] == expected(100)


@pytest.fixture
def small_disk(tmp_path):
    """A 1 MB file system, nearly full."""
    where = tmp_path / "small"
    where.mkdir()
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1024k", "tmpfs", str(where)],
                             capture_output=True, text=True)
    if mounted.returncode != 0:
        pytest.skip(f"cannot mount a small file system: {mounted.stderr.strip()}")
    (where / "filler").write_bytes(b"\0" * (1024 - 96) * 1024)
    yield where
    subprocess.run(["umount", "-l", str(where)], check=False)


def test_a_full_disk_loses_whole_lines_and_says_how_many(make_flood, flood, small_disk):
    log = small_disk / "app.log"
    app = make_flood(f"stdout {log}\nlogrotate 10M")
    run = subprocess.Popen([str(app.path), "/test", "a", "20000", "native", str(flood[1]), "pace",
                            "40"], cwd=app.dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        assert qlxtest.wait_for(lambda: "Cannot write" in app.log(), 60), app.log()
        time.sleep(1)  # output goes on being lost
        (small_disk / "filler").unlink()  # space returns
        run.communicate(timeout=120)
    finally:
        run.kill()
    assert run.returncode == 0
    assert rotation_warnings(app) == [
        f"Cannot write to {log}: No space left on device; output is lost until it can be written "
        "again."]
    lines = log.read_bytes().split(b"\n")
    assert lines[-1] == b""
    report = [i for i, line in enumerate(lines) if line.startswith(b"Output could not")]
    assert len(report) == 1
    at = report[0]
    # Whole lines on both sides of the report, none split, none doubled.
    got = [int(LINE.match(line).group(2)) for line in lines[:at] + lines[at + 1:-1]]
    assert got == sorted(set(got)) and got[-1] == 19999
    before = int(LINE.match(lines[at - 1]).group(2))
    after = int(LINE.match(lines[at + 1]).group(2))
    missing = after - before - 1
    assert missing > 0 and got == list(range(before + 1)) + list(range(after, 20000))
    lost = sum(len(b"a %d %s %s\n" % (n, kind.encode(), b"." * 32))
               for n, kind in expected(20000)[before + 1:after])
    assert lines[at].decode() == (
        f"Output could not be written to {log} (No space left on device): {lost} bytes in "
        f"{missing} lines are missing here.")


@pytest.mark.parametrize("rotation", ["", "logrotate 1M\n"])
@pytest.mark.parametrize("config, stream, problem", [
    ("stdout logs/deep/app.log", None, None),  # the missing folders are made
    ("stdout afile/app.log", "stdout", "Standard output cannot be written to afile/app.log: "
                                       "Not a directory."),
    ("stderr afile/err.log", "stderr", "Standard error cannot be written to afile/err.log: "
                                       "Not a directory."),
])
def test_a_log_that_cannot_be_opened_is_said_once_on_the_console(make_flood, flood, rotation,
                                                                 config, stream, problem):
    app = make_flood(config + "\n" + rotation)
    (app.dir / "afile").write_bytes(b"")
    result = run_flood(app, flood, "a", 200)
    assert result.returncode == 0
    console = {"stdout": result.stdout.decode(), "stderr": result.stderr.decode()}
    if stream is None:
        assert console == {"stdout": "", "stderr": ""}
        assert numbers([app.dir / "logs" / "deep" / "app.log"], "a") == expected(200)
    else:
        assert console[stream].count(problem) == 1 and console[stream].startswith(problem + "\n")
        if stream == "stdout":
            assert len(re.findall(r"^a \d+ ", console["stdout"], re.M)) == 200
