"""The wrapped executable as a process on Linux: the service command line,
redirection of the standard streams, the single-instance lock, the support
classes loading the executable as their native library, runtime discovery
and damaged files."""
import os
import signal
import stat
import subprocess
import time
from pathlib import Path

import pytest

import qlxtest
from instances_support import linux_table_path
from linux_e2e import facts, lock_file

ALREADY_RUNNING = "There is already an instance of this program running."
NT_ONLY = "Service can be installed on Windows NT only."
USAGE = "Service type application.\n\nUse /install to install service."


def out_text(result):
    return result.stdout.decode("utf-8", "replace")


def wait_for(predicate, timeout=20.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.05)
    return False


# --- service command line -------------------------------------------------

@pytest.mark.parametrize("args, code, expected", [
    # Without a service name of its own the program is named after its file.
    (["/install"], 272, "Service 'app' install failed, " + NT_ONLY),
    (["/install:auto", "a", "b"], 272, "Service 'app' install failed, " + NT_ONLY),
    (["/uninstall"], 272, "Service 'app' uninstall failed, " + NT_ONLY),
    (["-UNINST", "/install"], 272, "Service 'app' uninstall failed, " + NT_ONLY),
    (["/status"], 272, "Service 'app' status failed, " + NT_ONLY),
    (["/help"], 0, USAGE),
    (["-?"], 0, USAGE),
    ([], 0, USAGE),                     # no switch: usage, then the dispatcher returns at once
    (["plain"], 0, USAGE),
    # A switch that is no command is a mistake from a console, never a success.
    (["plain", "/staus"], 307, USAGE + "\nUnknown switch '/staus'; did you mean /status?"),
    (["--stpo", "x"], 307, USAGE + "\nUnknown switch '--stpo'; did you mean /stop?"),
])
def test_service_switches(wrap_probe, args, code, expected):
    app = wrap_probe()
    r = app.run(*args)
    # A Linux exit status keeps the low 8 bits only: 272 arrives as 16.
    assert r.returncode == code & 0xFF
    assert out_text(r) == expected + "\n"


# Mistakes on the /install line are refused before anything is registered,
# each with its own code and line; a password given any other way than
# /password:VALUE is used nowhere, not even in the line that refuses it.
@pytest.mark.parametrize("args, code, reason", [
    (["/install:bogus"], 302, "'bogus' is no start type (auto, delayed, manual, disabled); for an "
                              "argument use /install:manual bogus"),
    (["/install", "p1.txt", "z"], 302, "'p1.txt' is no start type (auto, delayed, manual, "
                                       "disabled); for an argument use /install:manual p1.txt"),
    (["/install", "/account:LocalServce"], 308,
     "'LocalServce' is no account; did you mean LocalService? (a user: .\\LocalServce)"),
    (["/install", "/account:bob", "/password", "-S3cretDash"], 309,
     "give it as /password:VALUE; the argument after it was not used."),
    (["/install", "/account:bob", "/password", "S3cret"], 309,
     "give it as /password:VALUE; the argument after it was not used."),
    (["/install", "/account:bob", "/passwordS3cret"], 309,
     "give it as /password:VALUE; the argument after it was not used."),
    (["/install", "/recovery:60/5000"], 303,
     "the value of /recovery is not valid: '60/5000' (COUNT is 1 to 1023)."),
    (["/install", "/recovery:999999999"], 303,
     "the value of /recovery is not valid: '999999999' (DELAY is at most 86400)."),
    # Given right, the password passes every check and reaches the (absent) manager.
    (["/install", "/account:bob", "/password:S3cret", "--port", "1"], 272, NT_ONLY),
])
def test_install_mistakes_are_refused_with_their_reason(wrap_probe, args, code, reason):
    app = wrap_probe()
    r = app.run(*args)
    assert r.returncode == code & 0xFF
    assert out_text(r) == f"Service 'app' install failed, {reason}\n"
    assert b"S3cret" not in r.stdout + r.stderr
    assert "S3cret" not in app.log()


# --- standard streams -----------------------------------------------------

def test_stderr_log_is_appended_across_runs(wrap_probe):
    app = wrap_probe()
    assert app.run("/test", "eprint:first run").returncode == 0
    assert app.run("/test", "eprint:second run", "print:on stdout").returncode == 0
    assert app.log().splitlines() == ["first run", "second run"]


def test_stdout_and_stderr_to_one_file(wrap_probe):
    app = wrap_probe("stdout both.log\nstderr both.log")
    r = app.run("/test", "print:1", "eprint:2", "print:3")
    assert r.returncode == 0 and r.stdout == b"" and r.stderr == b""
    lines = (app.dir / "both.log").read_text().splitlines()
    assert lines == ["argv[0]=print:1", "argv[1]=eprint:2", "argv[2]=print:3", "1", "2", "3"]


def test_stdout_into_a_command(wrap_probe):
    app = wrap_probe("stdout |cat > piped.txt")
    r = app.run("/test", "print:through the pipe", "eprint:to the log")
    assert r.returncode == 0, app.log()
    assert r.stdout == b""
    piped = app.dir / "piped.txt"
    # The reader sees the end of its input when the launcher has ended.
    assert wait_for(lambda: piped.exists() and "through the pipe" in piped.read_text())
    assert piped.read_text().splitlines()[-1] == "through the pipe"
    assert "to the log" in app.log()


def test_command_that_ends_early_does_not_kill_the_application(wrap_probe):
    app = wrap_probe("stdout |exit 0")
    r = app.run("/test", "sleep:300", *[f"print:line {i}" for i in range(200)], "exit:5")
    assert r.returncode == 5, app.log()


def test_missing_log_folders_are_made_and_an_unopenable_target_leaves_the_stream_alone(wrap_probe):
    app = wrap_probe("stdout missing/dir/out.log\nstderr missing/dir/err.log")
    r = app.run("/test", "print:into the file", "eprint:into the error file")
    assert r.returncode == 0 and out_text(r) == "" and r.stderr == b""
    logs = app.path.parent / "missing" / "dir"
    assert "into the file" in (logs / "out.log").read_text().splitlines()
    assert "into the error file" in (logs / "err.log").read_text().splitlines()

    # A folder that cannot be made (a file stands in its way): the streams stay.
    (app.path.parent / "blocked").write_text("")
    app = wrap_probe("stdout blocked/out.log\nstderr blocked/err.log")
    r = app.run("/test", "print:still on stdout", "eprint:still on stderr")
    assert r.returncode == 0
    assert "still on stdout" in out_text(r)
    assert b"still on stderr" in r.stderr


# --- single instance ------------------------------------------------------

def test_single_instance_lock(wrap_probe, tmp_path):
    app = wrap_probe("singleinstance TRUE")
    ready = tmp_path / "first.ready"
    env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")
    first = subprocess.Popen([str(app.path), "/test", f"touch:{ready}", "sleep:60000"],
                             cwd=str(app.dir), env=env, stdout=subprocess.DEVNULL)
    try:
        assert wait_for(ready.exists), app.log()
        started = time.monotonic()
        second = app.run("/test", "print:second ran")
        assert second.returncode == 13
        assert out_text(second) == ALREADY_RUNNING + "\n"
        assert time.monotonic() - started < 10
        # Killing the first instance outright frees the lock.
        first.send_signal(signal.SIGKILL)
        first.wait(timeout=10)
        third = app.run("/test", "print:third ran")
        assert third.returncode == 0, app.log()
        assert "third ran" in out_text(third)
        assert lock_file(app.path).exists()
    finally:
        if first.poll() is None:
            first.kill()
            first.wait()
        lock_file(app.path).unlink(missing_ok=True)


@pytest.mark.parametrize("appid, shared", [("", False), ("QlxTest\\Shared{pid}", True)])
def test_single_instance_is_per_program(wrap_probe, tmp_path, appid, shared):
    """Two copies of a program in different places are different programs,
    unless they share an appid ("\\" becomes "." in the lock's name)."""
    appid = appid.format(pid=os.getpid())
    config = "singleinstance true" + (f"\nappid {appid}" if appid else "")
    a = wrap_probe(config, name="one")
    b = wrap_probe(config, name="two")
    ready = tmp_path / "one.ready"
    env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")
    first = subprocess.Popen([str(a.path), "/test", f"touch:{ready}", "sleep:60000"],
                             cwd=str(a.dir), env=env, stdout=subprocess.DEVNULL)
    locks = [lock_file(appid)] if appid else [lock_file(a.path), lock_file(b.path)]
    try:
        assert wait_for(ready.exists), a.log()
        assert all(lock.exists() for lock in locks[:1])
        r = b.run("/test")
        assert r.returncode == (13 if shared else 0)
        if shared:
            assert out_text(r) == ALREADY_RUNNING + "\n"
    finally:
        first.kill()
        first.wait()
        for lock in locks:
            lock.unlink(missing_ok=True)
        # A killed instance cannot remove its table.
        linux_table_path(a.path, appid or None).unlink(missing_ok=True)


@pytest.mark.parametrize("plant", [
    os.mkfifo, Path.mkdir, lambda at: at.symlink_to(__file__),
    lambda at: os.mknod(at, 0o600 | stat.S_IFCHR, os.makedev(1, 3)),  # like /dev/null
], ids=["fifo", "directory", "symlink", "device"])
def test_odd_file_at_the_lock_neither_blocks_nor_redirects(wrap_probe, plant):
    app = wrap_probe("singleinstance true")
    lock = lock_file(app.path)
    lock.parent.mkdir(mode=0o700, exist_ok=True)
    plant(lock)
    try:
        r = app.run("/test", "print:ran", timeout=20)
        # Counted as another instance, with the reason on the line before.
        assert r.returncode == 13
        reason, message = out_text(r).splitlines()
        assert reason.startswith("CreateMutex error: ") and str(lock) in reason
        assert message == ALREADY_RUNNING
    finally:
        lock.rmdir() if lock.is_dir() and not lock.is_symlink() else lock.unlink()


@pytest.mark.skipif(os.geteuid() != 0, reason="needs root to make a directory of another user")
def test_single_instance_lock_is_kept_where_only_its_user_writes(wrap_probe, tmp_path):
    app = wrap_probe("singleinstance true")
    runtime, foreign = tmp_path / "runtime", tmp_path / "foreign"
    for directory in (runtime, foreign):
        directory.mkdir(mode=0o700)
    os.chown(foreign, 65534, 65534)
    fallback = lock_file(app.path, f"/tmp/qlx-{os.geteuid()}")
    fallback.unlink(missing_ok=True)
    try:
        for given, used in ((runtime, lock_file(app.path, runtime)), (foreign, fallback)):
            assert app.run("/test", env={"XDG_RUNTIME_DIR": str(given)}).returncode == 0
            assert stat.S_IMODE(used.stat().st_mode) == 0o600
            home = used.parent.lstat()
            assert stat.S_ISDIR(home.st_mode) and home.st_uid == os.geteuid()
            assert home.st_mode & 0o022 == 0
        assert list(foreign.iterdir()) == []
    finally:
        fallback.unlink(missing_ok=True)


# --- the support classes load the executable ------------------------------

def test_support_classes_reach_the_natives(wrap_probe, tmp_path):
    app = wrap_probe("option -Xverify:all\noption --add-opens=java.base/java.io=ALL-UNNAMED")
    target = tmp_path / "redir.txt"
    target.write_bytes(b"kept\n")
    r = app.run("/test", "service", f"redir:{target}")
    assert r.returncode == 0, app.log()
    got = facts(r.stdout)
    assert got["isRunAsService"] == "false"
    assert got["setServiceStatus"] == "returned"
    # Appended by the native through the descriptor Java put into h: the
    # write with h = 0 wrote nothing, 0x141 wrote its low byte 'A'.
    assert target.read_bytes() == b"kept\n" + "redirected é\n".encode() + b"A\n"


def test_support_merged_with_the_support_option(wrap_probe):
    # qlxwrap finds the jar of its own build tree.
    app = wrap_probe(options=["--support"])
    r = app.run("/test", "service")
    assert r.returncode == 0, app.log()
    assert facts(r.stdout)["isRunAsService"] == "false"


# --- runtime discovery and damaged files ----------------------------------

def test_runtime_found_through_java_home(wrap_probe):
    app = wrap_probe(jvmdll=False)
    r = app.run("/test", "print:ran", env={"JAVA_HOME": str(qlxtest.JDK), "JRE_HOME": ""})
    assert r.returncode == 0, app.log()
    assert "ran" in out_text(r)


def test_no_runtime(wrap_probe):
    app = wrap_probe(jvmdll=False, config="jre_order e")
    r = app.run("/test", drop_env=("JAVA_HOME", "JRE_HOME"))
    assert r.returncode == 1
    assert out_text(r) == "Java Runtime Environment not found.\n"


def test_library_that_is_not_a_vm(wrap_probe, tmp_path):
    fake = tmp_path / "libjvm.so"
    fake.write_bytes(b"not a library")
    app = wrap_probe(jvmdll=False, config=f"jvmdll {fake}")
    r = app.run("/test")
    assert r.returncode == 2
    assert out_text(r).splitlines()[-1] == "Java Runtime Environment not valid."


def test_modified_executable_is_refused(wrap_probe):
    app = wrap_probe()
    data = bytearray(app.path.read_bytes())
    data[-30] ^= 0x01           # inside the archive
    app.path.write_bytes(bytes(data))
    r = app.run("/test", "print:ran")
    assert r.returncode == 9
    assert out_text(r) == "The exe can not be modified after it generated.\n"


def test_bare_stub_is_refused(tmp_path):
    stub = tmp_path / "qlx"
    stub.write_bytes(qlxtest.STUB_LINUX.read_bytes())
    stub.chmod(0o755)
    r = subprocess.run([str(stub), "/test"], capture_output=True, timeout=30)
    assert r.returncode == 14
    assert r.stdout.decode().startswith("This program file is damaged or incomplete: ")


# --- working directory and wildcards --------------------------------------

@pytest.mark.parametrize("forcecwd, expected", [
    ("", "{home}"),                    # default: the executable's directory
    ("forcecwd sub", "{home}/sub"),
    ("forcecwd ./sub/../sub/", "{home}/sub"),
    ("forcecwd {tmp}", "{tmp}"),       # absolute paths are used unchanged
    ("forcecwd missing", "{caller}"),  # a directory that cannot be entered: unchanged
])
def test_working_directory(wrap_probe, tmp_path, forcecwd, expected):
    caller = tmp_path / "caller"
    caller.mkdir()
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    app = wrap_probe(forcecwd.format(tmp=elsewhere))
    (app.dir / "sub").mkdir()
    env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")
    r = subprocess.run([str(app.path), "/test", "prop:user.dir", "env:PWD"], cwd=str(caller),
                       env=env, capture_output=True, timeout=60)
    assert r.returncode == 0, app.log()
    want = expected.format(home=app.dir, tmp=elsewhere, caller=caller)
    assert facts(r.stdout)["prop.user.dir"] == want


@pytest.mark.parametrize("mode, expanded", [("true", False), ("all", True), ("", False)])
def test_wildcards_from_a_linux_shell(wrap_probe, mode, expanded):
    """A Linux shell expands unquoted patterns itself; a pattern that reaches
    the launcher was quoted, so only `wildcard all` expands it."""
    app = wrap_probe(f"wildcard {mode}" if mode else "")
    for name in ("a.txt", "b.txt", "c.dat"):
        (app.dir / name).write_text("x")
    r = app.run("/test", "*.txt", "plain")
    assert r.returncode == 0, app.log()
    got = facts(r.stdout)
    argv = [got[f"argv[{i}]"] for i in range(len([k for k in got if k.startswith("argv[")]))]
    if expanded:
        assert sorted(argv[:-1]) == ["a.txt", "b.txt"] and argv[-1] == "plain"
    else:
        assert argv == ["*.txt", "plain"]


def test_started_through_a_link_or_the_path(wrap_probe, tmp_path):
    """The executable finds itself (and its payload) however it was named."""
    app = wrap_probe()
    links = tmp_path / "links"
    links.mkdir()
    (links / "alias").symlink_to(app.path)
    env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8",
               PATH=f"{links}:{os.environ.get('PATH', '')}")
    for argv0 in (str(links / "alias"), "alias"):
        r = subprocess.run([argv0, "/test", "prop:qlx.app.path", "prop:application.home"],
                           cwd=str(tmp_path), env=env, capture_output=True, timeout=60)
        assert r.returncode == 0, (r.stdout, app.log())
        got = facts(r.stdout)
        assert got["prop.qlx.app.path"] == str(app.path)
        assert got["prop.application.home"] == str(app.dir) + "/"


def test_children_of_the_application_get_default_sigpipe(wrap_probe):
    """The launcher ignores SIGPIPE once stdout feeds a command; processes
    the application starts must not inherit that."""
    app = wrap_probe("stdout |cat > piped.txt")
    r = app.run("/test", "child:grep SigIgn /proc/self/status")
    assert r.returncode == 0, app.log()
    piped = app.dir / "piped.txt"
    assert wait_for(lambda: piped.exists() and "child=" in piped.read_text())
    line = [x for x in piped.read_text().splitlines() if x.startswith("child=")][0]
    ignored = int(line.split()[-1], 16)
    assert not ignored & (1 << (signal.SIGPIPE - 1)), line
