"""Standard stream redirection under Wine: both the C runtime's streams
(the launcher's own messages) and the process's standard handles (what the
VM writes) go to the targets, files are appended, and a failure is printed
once when both streams share a file."""
import pytest

from core_support import MSG_START_FAILED, USAGE, read_text, wait_for


def test_stderr_log_is_appended_across_runs(make_app):
    app = make_app("", jvm="jvm_fail.dll")
    for run in (1, 2):
        result = app.run("/test")
        assert result.returncode == 4
        assert result.stdout.strip() == MSG_START_FAILED  # the console still sees it
        assert result.stderr == b""
        assert app.stderr_log.read_bytes().count(MSG_START_FAILED) == run


def test_vm_standard_error_goes_to_the_log(make_app):
    app = make_app("")
    result = app.run("/test", script="eprint from the vm")
    assert result.returncode == 0 and result.stderr == b""
    assert b"from the vm" in app.stderr_log.read_bytes()


def test_stderr_to_a_configured_file(make_app):
    app = make_app("stderr errors.txt\n")
    result = app.run("/test", script="eprint oops")
    assert result.returncode == 0 and result.stderr == b""
    assert read_text(app.dir / "errors.txt") == b"oops\n"
    assert not app.stderr_log.exists()


def test_stdout_to_a_file_appends_runtime_and_vm_output(make_app):
    app = make_app("stdout out.txt\n")
    first = app.run("/test", script="print from the vm")
    second = app.run("/help")
    assert (first.returncode, first.stdout) == (0, b"")
    # The launcher's own result also reaches the console it was started from.
    assert (second.returncode, second.stdout) == (0, USAGE)
    assert (app.dir / "out.txt").read_bytes() == b"from the vm\n" + USAGE


def test_stdout_expands_references(make_app):
    app = make_app("stdout %QLX_OUT_NAME%.txt\n")
    assert app.run("/help", env={"QLX_OUT_NAME": "expanded"}).stdout == USAGE
    assert read_text(app.dir / "expanded.txt") == USAGE


def test_stdout_into_a_command(make_app):
    app = make_app("stdout |cmd /c more > piped.txt\n")
    result = app.run("/test", script="print through the pipe")
    assert (result.returncode, result.stdout) == (0, b"")
    # The reader sees the end of its input when the launcher ends.
    assert wait_for(lambda: b"through the pipe" in read_text(app.dir / "piped.txt"), 20)


@pytest.mark.parametrize("target", ["|qlx-no-such-program.exe", "no-such-dir\\out.txt"])
def test_unusable_stdout_target_leaves_the_console(make_app, target):
    app = make_app(f"stdout {target}\n")
    result = app.run("/help")
    assert (result.returncode, result.stdout) == (0, USAGE)


def test_same_destination_prints_a_failure_once(make_app):
    app = make_app("stdout both.log\nstderr both.log\n", jvm="jvm_fail.dll")
    result = app.run("/test")
    assert (result.returncode, result.stdout, result.stderr) == (4, MSG_START_FAILED + b"\r\n", b"")
    assert read_text(app.dir / "both.log").count(MSG_START_FAILED) == 1


def test_same_destination_is_exact_text(make_app):
    # Different texts are different targets even for one file: each stream
    # gets the message.
    app = make_app("stdout out.log\n", jvm="jvm_fail.dll")
    result = app.run("/test")
    assert (result.returncode, result.stdout) == (4, MSG_START_FAILED + b"\r\n")
    assert read_text(app.dir / "out.log").count(MSG_START_FAILED) == 1
    assert app.stderr_log.read_bytes().count(MSG_START_FAILED) == 1


def test_shared_target_interleaves_both_streams(make_app):
    app = make_app("stdout both.log\nstderr both.log\n")
    result = app.run("/test", script="print one;eprint two;print three")
    assert result.returncode == 0
    assert read_text(app.dir / "both.log") == b"one\ntwo\nthree\n"


def test_two_instances_append_to_shared_logs(make_app):
    # A writes, waits while B runs to its end, then writes again: B's lines
    # must survive A's later writes in both redirected streams.
    app = make_app("stdout out.log\n")
    first = app.start("/test", script="print A-out-1;eprint A-err-1;sleep 6000;"
                                      "print A-out-2;eprint A-err-2")
    try:
        assert wait_for(lambda: b"A-err-1" in read_text(app.stderr_log), 30)
        second = app.run("/test", script="print B-out-by-second-instance;"
                                         "eprint B-err-by-second-instance")
        assert second.returncode == 0
        assert first.wait(timeout=60) == 0
    finally:
        if first.poll() is None:
            first.kill()
        first.communicate()
    for log, tag in ((app.dir / "out.log", "out"), (app.stderr_log, "err")):
        assert read_text(log).decode().split() == [
            f"A-{tag}-1", f"B-{tag}-by-second-instance", f"A-{tag}-2"]
