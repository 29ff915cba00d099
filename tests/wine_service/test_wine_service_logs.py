"""A real Java service under Wine's manager and its logs: a log folder that is
missing is made; a log that cannot be opened stops the start with code 15,
which the program's own /start reports, and the line that says which log
is where an administrator finds it; with rotated logs, the line of a stop
ended at its bound and the application's output before it reach the file."""
import pytest

import qlxtest

RUNNING, STOPPED = 4, 1


@pytest.mark.parametrize("config, starts, said_in", [
    ("stdout logs\\deep\\out.log\n", True, None),
    # Standard error still reaches its log, which then tells why.
    ("stdout Q:\\nowhere\\out.log\n", False, "svc.exe.stderr.log"),
    # Nothing to write to at all: the file beside the program (and the event log).
    ("stderr Q:\\nowhere\\err.log\n", False, "svc.exe.stderr.log"),
])
def test_a_log_that_cannot_be_opened_fails_the_start_and_says_which(service, config, starts,
                                                                    said_in):
    s = service(config)
    result = qlxtest.run_wine(s.exe, "/start", cwd=s.dir, timeout=120)
    out = result.stdout.decode(errors="replace")
    if starts:
        assert result.returncode == 0, out
        s.wait_state(RUNNING)
        assert (s.dir / "logs" / "deep" / "out.log").exists()
        return
    # 289: stopped while starting, with the code of the reason.
    assert result.returncode == 289 % 256, out
    assert "with exit code 15;" in out
    status = s.wait_state(STOPPED)
    assert (status["win32"], status["specific"]) == (1066, 15)
    which = "Standard output" if "stdout" in config else "Standard error"
    path = config.split(" ", 1)[1].strip()
    said = (s.dir / said_in).read_text(errors="replace").splitlines()
    assert [line for line in said if line.startswith(which)] == [
        line for line in said if line.startswith(f"{which} cannot be written to {path}: ")]
    assert len([line for line in said if line.startswith(which)]) == 1
    assert "main " not in "\n".join(s.record())  # the application never ran


def test_the_stop_bound_line_and_the_last_output_reach_a_rotated_log(service):
    # Output without a pause keeps the log's pipe full to the end.
    s = service("property svc.hookDelay=10000\nproperty svc.heartbeat=0\nstoptimeout 3\n"
                "logrotate 1M\nlogkeep 2\n")
    s.start(watch_ms=60000)
    s.wait_state(RUNNING)
    assert qlxtest.wait_for(lambda: "started" in s.record())
    assert s.control("stop")["wait"] == 3000
    assert s.watched()[-1]["state"] == STOPPED
    lines = s.stderr_log.read_text(errors="replace").splitlines()
    # Before, the pipe still held the line (and the last heartbeats) when
    # the process was ended.
    # The line, stamped, is followed only by the launcher's last line.
    assert lines[-2].endswith(" qlx: The service stop took longer than 3 s; the process is ended."), \
        lines[-3:]
    assert lines[-1].endswith(" ended, exit code 0."), lines[-3:]
    beats = [int(line.split()[1]) for line in lines if line.startswith("heartbeat ")]
    assert len(beats) > 20 and beats == list(range(beats[0], beats[0] + len(beats)))
