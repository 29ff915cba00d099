"""Instances of a wrapped test program (tests/apps/instances), run as real
processes under Wine (Avian) or natively on Linux (HotSpot): started in the
background, sent work, killed, and read back through their record files."""
import os
import signal
import subprocess
import time
from pathlib import Path

import qlxtest


class InstanceProgram:
    def __init__(self, exe, wine):
        self.exe = Path(exe)
        self.wine = wine
        self.running = []

    def _command(self, args):
        return (["wine", str(self.exe)] if self.wine else [str(self.exe)]) + list(args)

    def _env(self, record):
        extra = {"INST_RECORD": qlxtest.wine_path(record) if self.wine else str(record),
                 "LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"}
        return qlxtest.wine_env(extra, lang="C.UTF-8") if self.wine else {**os.environ, **extra}

    def start(self, record, *args):
        """Starts an instance in the background and waits for its start line."""
        process = subprocess.Popen(self._command(args), env=self._env(record), cwd=self.exe.parent,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        self.running.append(process)
        assert wait_lines(record, lambda lines: any(l.startswith("start") for l in lines)), \
            f"{self.exe.name} {args} did not start"
        return process

    def run(self, record, *args, timeout=90):
        return subprocess.run(self._command(args), env=self._env(record), cwd=self.exe.parent,
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)

    def stop_all(self):
        for process in self.running:
            if process.poll() is None:
                process.kill()
                process.wait(timeout=30)


def kill_hard(process):
    os.kill(process.pid, signal.SIGKILL)
    process.wait(timeout=30)


def lines_of(record):
    record = Path(record)
    return record.read_text(encoding="utf-8").splitlines() if record.exists() else []


def wait_lines(record, predicate, timeout=60.0):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate(lines_of(record)):
            return True
        time.sleep(0.1)
    return predicate(lines_of(record))


def start_line(record):
    """The fields of an instance's start line as a dict."""
    line = next(l for l in lines_of(record) if l.startswith("start"))
    return dict(part.split("=", 1) for part in line.split()[2:])


def custom_exchange_expectations(record_serve, record_send, send_output):
    """What one 'send ping:1 self:hello bytes:1024 bytes:1025 quit' run leaves."""
    assert send_output.returncode == 0, send_output
    send = lines_of(record_send)
    assert send[-1] == "done 5/5", send
    assert sorted(l for l in send if l.startswith("reply")) == \
        ["reply 989", "reply 990", "reply pong:hello", "reply pong:ping:1", "reply pong:quit"]
    assert "object from self hello" in send  # through the slot to its own receiver
    serve = lines_of(record_serve)
    assert "getReply on main thread null" in serve
    for line in ("object from other ping:1", "bytes from other 989", "bytes from other 990",
                 "object from other quit"):
        assert line in serve, serve
