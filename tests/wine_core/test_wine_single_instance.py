"""`singleinstance` under Wine: a named mutex owned for the life of the
first instance; a second start ends with message 13 and exit code 13."""
import os
import signal

import pytest

from core_support import MSG_RUNNING, USAGE, wait_for


def _start_first(app, sleep_ms):
    first = app.start("/test", script=f"sleep {sleep_ms}")
    assert wait_for(lambda: any(l.startswith("main class=") for l in app.log_lines()), 30), \
        "the first instance never reached main"
    return first


@pytest.mark.parametrize("value", ["true", "TRUE", "True"])
def test_second_start_is_refused_while_the_first_runs(make_app, value):
    app = make_app(f"singleinstance {value}\n")
    first = _start_first(app, 4000)
    try:
        second = app.run("/help")
        assert second.returncode == 13
        assert second.stdout.strip() == MSG_RUNNING
        assert MSG_RUNNING in app.stderr_log.read_bytes()
    finally:
        first.wait(timeout=60)
    assert first.returncode == 0
    # Once the first has ended, the next start is a first instance again.
    assert app.run("/help").stdout == USAGE


def test_a_killed_first_instance_frees_the_mutex(make_app):
    app = make_app("singleinstance true\n")
    first = _start_first(app, 60000)
    assert app.run("/help").returncode == 13
    os.kill(first.pid, signal.SIGKILL)
    first.wait(timeout=30)
    assert wait_for(lambda: app.run("/help").returncode == 0, 30)


def test_appid_names_the_mutex_across_programs(make_app, tmp_path):
    one = make_app("singleinstance true\nappid Tarnwick\\Shared:Id\n", directory=tmp_path / "one")
    two = make_app("singleinstance true\nappid Tarnwick\\Shared:Id\n", directory=tmp_path / "two")
    other = make_app("singleinstance true\n", directory=tmp_path / "other")
    first = _start_first(one, 4000)
    try:
        assert two.run("/help").returncode == 13
        # Without the appid the program's own path names the mutex.
        assert other.run("/help").returncode == 0
    finally:
        first.wait(timeout=60)


@pytest.mark.parametrize("value", ["", "false", "yes"])
def test_other_values_allow_several_instances(make_app, value):
    app = make_app(f"singleinstance {value}\n")
    first = _start_first(app, 3000)
    try:
        assert app.run("/help").stdout == USAGE
    finally:
        first.wait(timeout=60)


def test_handover_second_start_ends_with_13_silently(make_app):
    app = make_app("singleinstance handover\n")
    first = _start_first(app, 4000)
    try:
        second = app.run("/help")
        assert (second.returncode, second.stdout) == (13, b"")
        assert MSG_RUNNING not in app.stderr_log.read_bytes()
    finally:
        first.wait(timeout=60)
