"""Instances of a wrapped test program (tests/apps/instances), run as real
processes under Wine (Avian) or natively on Linux (HotSpot): started in the
background, sent work, killed, and read back through their record files."""
import ctypes
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

    def start(self, record, *args, stdout=subprocess.DEVNULL):
        """Starts an instance in the background and waits for its start line."""
        process = subprocess.Popen(self._command(args), env=self._env(record), cwd=self.exe.parent,
                                   stdin=subprocess.DEVNULL, stdout=stdout,
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


def dead_pid():
    """The id of a process that has ended."""
    child = subprocess.Popen(["true"])
    child.wait()
    return child.pid


def refusals(log):
    """The lines an instance wrote for the objects it refused."""
    log = Path(log)
    text = log.read_text(errors="replace") if log.exists() else ""
    return [l for l in text.splitlines() if l.startswith("Instance message from ") and " dropped: " in l]


# The Linux table: the object's name and the layout of the fields used here.
def _sanitized(appid):
    out, h = "", 2166136261
    for c in appid.encode():
        h = ((h ^ c) * 16777619) & 0xFFFFFFFF
        plain = chr(c).isascii() and (chr(c).isalnum() or chr(c) in "._-")
        if len(out) < 160:
            out += chr(c) if plain else "_"
    return f"{out}-{h:08x}"


def linux_table_name(exe=None, appid=None):
    user = f"/qlx-{os.geteuid()}"
    if appid:
        return f"{user}-app-{_sanitized(appid)}"
    st = os.stat(exe)
    return f"{user}-exe-{st.st_dev}-{st.st_ino}"


def linux_table_path(exe=None, appid=None):
    return Path("/dev/shm") / linux_table_name(exe, appid)[1:]


_LIBC = ctypes.CDLL(None, use_errno=True)
_SYS_FUTEX = {"x86_64": 202, "aarch64": 98}.get(os.uname().machine, 202)


class LinuxTable:
    """Writes into a running program's table the way any process of the user
    can: fields at their offsets, no lock, no help from the launcher."""

    def __init__(self, path):
        import mmap
        self.file = open(path, "r+b")
        self.memory = mmap.mmap(self.file.fileno(), 4096)

    def close(self):
        self.memory.close()
        self.file.close()

    def get(self, offset):
        return int.from_bytes(self.memory[offset:offset + 4], "little")

    def put(self, offset, value):
        self.memory[offset:offset + 4] = (value & 0xFFFFFFFF).to_bytes(4, "little")

    def changed(self):
        """Counts a change and wakes the receivers waiting on the counter (a
        futex on the shared page), as any process of the user can."""
        self.put(32, self.get(32) + 1)
        counter = ctypes.c_int32.from_buffer(self.memory, 32)
        _LIBC.syscall(_SYS_FUTEX, ctypes.byref(counter), 1, 0x7FFFFFFF, None, None, 0)  # FUTEX_WAKE
        del counter  # the mapping cannot close while a view of it exists

    def wait_free(self, timeout=20.0):
        end = time.monotonic() + timeout
        while self.get(48) != 0 and time.monotonic() < end:
            time.sleep(0.01)

    def wait_quiet(self, quiet=1.0, timeout=60.0):
        """Waits until the slot has stayed free for `quiet` seconds: an
        instance with chunks queued posts the next as soon as it is free."""
        end = time.monotonic() + timeout
        free_since = time.monotonic()
        while time.monotonic() < end:
            if self.get(48) != 0:
                free_since = time.monotonic()
            elif time.monotonic() - free_since >= quiet:
                return
            time.sleep(0.01)

    def send(self, target, sender, payload, reply_id=1, kind=0):
        """A message (by default an object, kind 0) chunk by chunk; returns
        once the last is taken."""
        message = kind.to_bytes(4, "little") + reply_id.to_bytes(4, "little") + payload
        serial = self.get(4)
        self.put(4, serial + 1)
        for offset in range(0, len(message), 1024):
            chunk = message[offset:offset + 1024]
            self.wait_free()
            self.put(48, 1)
            self.put(40, 0)
            for field, value in ((36, sender), (56, serial), (60, offset // 1024),
                                 (64, (len(message) - 1) // 1024), (68, 1024),
                                 (72, len(message)), (76, len(chunk)), (52, 0)):
                self.put(field, value)
            self.memory[80:80 + len(chunk)] = chunk
            self.put(40, target)
            self.changed()
        self.wait_free()

    def hold(self, holder):
        """`holder` becomes the owner and has a chunk in the slot that it never takes."""
        self.wait_free()
        self.put(0, holder)
        for field, value in ((36, holder), (56, 0x7FFF0000), (60, 0), (64, 0), (72, 100),
                             (76, 100), (52, 0), (48, 1), (40, holder)):
            self.put(field, value)
        self.changed()


# Serialisation streams built byte by byte, for what no JVM would write.
def _utf(text):
    data = text.encode("utf-8")
    return len(data).to_bytes(2, "big") + data


def _desc(name, suid, flags, fields=b"", count=0):
    return (b"\x72" + _utf(name) + suid.to_bytes(8, "big") + bytes([flags])
            + count.to_bytes(2, "big") + fields + b"\x78\x70")


def stream_array(element, length, body=b""):
    """An array of `length` elements of type code `element` ('J', 'B', 'L...;')."""
    name = "[" + element
    return b"\xac\xed\x00\x05\x75" + _desc(name, 1, 2) + length.to_bytes(4, "big") + body


def stream_list_capacity(capacity):
    """An empty ArrayList that claims `capacity` slots for its elements."""
    fields = b"I" + _utf("size")
    return (b"\xac\xed\x00\x05\x73" + _desc("java.util.ArrayList", 0x7881D21D99C7619D, 3, fields, 1)
            + (0).to_bytes(4, "big") + b"\x77\x04" + capacity.to_bytes(4, "big") + b"\x78")


def stream_forged_fields():
    """A Date whose descriptor claims a field the class does not have."""
    fields = b"J" + _utf("x")
    return (b"\xac\xed\x00\x05\x73" + _desc("java.util.Date", 0x686A81014B597419, 3, fields, 1)
            + bytes(8) + b"\x77\x08" + bytes(8) + b"\x78")


def stream_string(text):
    return b"\xac\xed\x00\x05\x74" + _utf(text)


def stream_named(name):
    """An object of a class whose name is `name`, whatever it holds."""
    return b"\xac\xed\x00\x05\x73" + _desc(name, 1, 2)


def other_user(name):
    """(uid, gid) of an unprivileged account made for the test; skips the test
    with the reason where accounts cannot be made."""
    import second_user
    return second_user.second_user(name)


def as_user(uid, gid, command):
    """A command line that runs `command` as that user, without root's groups."""
    import second_user
    return second_user.as_user((uid, gid), command)
