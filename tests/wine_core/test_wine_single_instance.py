"""`singleinstance` under Wine: a named mutex owned for the life of the
first instance; a second start of the program ends with message 13 and exit
code 13. (/help and the service commands are no start of the program: they
are never refused.)"""
import os
import shutil
import signal
import subprocess
from pathlib import Path

import pytest

import qlxtest

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
        second = app.run()
        assert second.returncode == 13
        assert second.stdout.strip() == MSG_RUNNING
        assert MSG_RUNNING in app.stderr_log.read_bytes()
    finally:
        first.wait(timeout=60)
    assert first.returncode == 0
    # Once the first has ended, the next start is a first instance again.
    assert app.run().stdout == USAGE


def test_a_killed_first_instance_frees_the_mutex(make_app):
    app = make_app("singleinstance true\n")
    first = _start_first(app, 60000)
    assert app.run().returncode == 13
    os.kill(first.pid, signal.SIGKILL)
    first.wait(timeout=30)
    assert wait_for(lambda: app.run().returncode == 0, 30)


def test_appid_names_the_mutex_across_programs(make_app, tmp_path):
    one = make_app("singleinstance true\nappid Tarnwick\\Shared:Id\n", directory=tmp_path / "one")
    two = make_app("singleinstance true\nappid Tarnwick\\Shared:Id\n", directory=tmp_path / "two")
    other = make_app("singleinstance true\n", directory=tmp_path / "other")
    first = _start_first(one, 4000)
    try:
        assert two.run().returncode == 13
        # Without the appid the program's own path names the mutex.
        assert other.run().returncode == 0
    finally:
        first.wait(timeout=60)


@pytest.mark.parametrize("value", ["", "false", "yes"])
def test_other_values_allow_several_instances(make_app, value):
    app = make_app(f"singleinstance {value}\n")
    first = _start_first(app, 3000)
    try:
        assert app.run().stdout == USAGE
    finally:
        first.wait(timeout=60)


def test_handover_second_start_ends_with_13_silently(make_app):
    app = make_app("singleinstance handover\n")
    first = _start_first(app, 4000)
    try:
        second = app.run()
        assert (second.returncode, second.stdout) == (13, b"")
        assert MSG_RUNNING not in app.stderr_log.read_bytes()
    finally:
        first.wait(timeout=60)


@pytest.fixture(scope="module")
def named_event(tmp_path_factory):
    """A Windows helper that holds a named event (built with the cross compiler)."""
    compiler = shutil.which("x86_64-w64-mingw32-gcc-posix") or shutil.which("x86_64-w64-mingw32-gcc")
    if compiler is None:
        pytest.fail("the MinGW C compiler is missing")
    exe = tmp_path_factory.mktemp("helper") / "named_event.exe"
    subprocess.run([compiler, "-O2", "-o", str(exe), str(Path(__file__).parent / "named_event.c")],
                   check=True)
    return exe


def test_failing_mutex_creation_counts_as_another_instance(make_app, named_event):
    # An event already holds the name, so CreateMutexA fails (invalid handle).
    app = make_app("singleinstance true\nappid QlxBusy\\Name\n")
    holder = subprocess.Popen(["wine", str(named_event), "QlxBusy.Name.qlx.mutex", "8000"],
                              env=qlxtest.wine_env(), stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL)
    try:
        assert holder.stdout.readline().strip() == b"ready"
        result = app.run()
        assert result.returncode == 13
        assert result.stdout.splitlines() == [b"CreateMutex error: 6", MSG_RUNNING]
    finally:
        holder.kill()
        holder.wait(timeout=30)
