"""Instances on the real HotSpot JVM with -Xcheck:jni: the handover of a
second launch's arguments with the first instance's answer, objects with
replies between processes (1 MB included), ownership passing on after the
owner is killed, a hostile process of the same user writing into the table,
and the table's removal by its last instance."""
import os
import subprocess
import time
import uuid

import pytest

import qlxtest
from instances_support import (InstanceProgram, LinuxTable, custom_exchange_expectations,
                               kill_hard, linux_table_path, lines_of, refusals, start_line,
                               wait_lines)
from linux_e2e import JNI_COMPLAINTS

APP = qlxtest.ROOT / "tests" / "apps" / "instances"


@pytest.fixture(scope="module")
def instances_jar(tmp_path_factory):
    out = tmp_path_factory.mktemp("instances") / "instances.jar"
    return qlxtest.compile_java(APP, out, classpath=qlxtest.SUPPORT_JAR)


@pytest.fixture
def program(tmp_path, instances_jar):
    made = []

    def make(mode, name="inst", appid="", extra=""):
        config = (f"mainclass inst.InstanceApp\njvmdll {qlxtest.LIBJVM}\noption -Xcheck:jni\n"
                  f"singleinstance {mode}\nproperty inst.lifetime=60000\n"
                  + (f"appid {appid}\n" if appid else "") + extra)
        exe = qlxtest.wrap(qlxtest.STUB_LINUX, instances_jar, config, tmp_path / name,
                           "--merge", str(qlxtest.SUPPORT_JAR))
        p = InstanceProgram(exe, wine=False)
        p.table = linux_table_path(appid=appid) if appid else linux_table_path(exe=exe)
        made.append(p)
        return p
    yield make
    for p in made:
        p.stop_all()
        # Killed instances cannot remove their table: leave nothing behind.
        p.table.unlink(missing_ok=True)
        log = p.exe.parent / (p.exe.name + ".stderr.log")
        text = log.read_text(errors="replace") if log.exists() else ""
        assert not any(c in text for c in JNI_COMPLAINTS), text


def test_handover_prints_the_first_instance_answer(program, tmp_path):
    p = program("handover")
    first = tmp_path / "first.txt"
    p.start(first, "/test", "serve")
    second = p.run(tmp_path / "second.txt", "a", "b c")
    assert (second.returncode, second.stdout) == (13, b"answer:a,b c")
    assert "args from other a,b c" in lines_of(first)
    assert start_line(first)["first"] == "true"


def test_commands_are_never_handed_over(program, tmp_path):
    # A command is decided before the handover: it runs itself (here the
    # Linux build's "no service manager" answer, 272) instead of carrying
    # its command line, a password among it, to the running instance.
    p = program("handover")
    first = tmp_path / "first.txt"
    p.start(first, "/test", "serve")
    for args, code in [(("/install", "/account:bob", "/password:S3cret"), 272),
                       (("/status",), 272), (("/stop",), 272), (("/help",), 0)]:
        r = p.run(tmp_path / "command.txt", *args)
        assert r.returncode == code & 0xFF, (args, r)
        assert b"answer:" not in r.stdout, args
    second = p.run(tmp_path / "second.txt", "a")  # the application's own runs still are
    assert (second.returncode, second.stdout) == (13, b"answer:a")
    handed = [line for line in lines_of(first) if "args from other" in line]
    assert handed == ["args from other a"]


def test_objects_and_replies_between_processes(program, tmp_path):
    p = program("custom")
    serve, send = tmp_path / "serve.txt", tmp_path / "send.txt"
    p.start(serve, "/test", "serve")
    big = p.run(tmp_path / "big.txt", "/test", "send", "bytes:1048576")
    assert lines_of(tmp_path / "big.txt")[-2:] == ["reply 1048541", "done 1/1"], big
    out = p.run(send, "/test", "send", "ping:1", "self:hello", "bytes:1024", "bytes:1025", "quit")
    custom_exchange_expectations(serve, send, out)
    assert wait_lines(serve, lambda lines: lines[-1] == "end serve")
    assert start_line(send)["first"] == "false"


def test_ownership_passes_when_the_owner_is_killed(program, tmp_path):
    p = program("custom", appid="qlx.test.takeover")
    a, b, c = tmp_path / "a.txt", tmp_path / "b.txt", tmp_path / "c.txt"
    owner = p.start(a, "/test", "serve")
    p.start(b, "/test", "serve")
    assert (start_line(a)["first"], start_line(b)["first"]) == ("true", "false")
    kill_hard(owner)
    time.sleep(1)  # b notices within its bounded wait and takes over
    dead = start_line(a)["id"]
    out = p.run(c, "/test", "send", f"to:{dead}:lost", "ping:after")
    assert lines_of(c)[-2:] == ["reply pong:ping:after", "done 1/1"], out
    assert "object from other ping:after" in lines_of(b)
    assert start_line(c)["listed"] == "2"  # b as owner, then c; a is gone


@pytest.fixture(scope="module")
def hostile_streams(instances_jar, tmp_path_factory):
    """The streams a hostile process sends: a gadget whose readObject creates
    the marker file, and a 5.7 KB nested-set bomb."""
    out = tmp_path_factory.mktemp("streams")
    marker = out / "gadget-ran"
    for args in (("gadget", out / "gadget.bin", marker), ("bomb", out / "bomb.bin")):
        subprocess.run([str(qlxtest.JAVA), "-cp", str(instances_jar), "inst.Streams",
                        *map(str, args)], check=True, timeout=60)
    return {"gadget": (out / "gadget.bin").read_bytes(), "bomb": (out / "bomb.bin").read_bytes(),
            "marker": marker}


def test_a_hostile_peer_cannot_run_code_or_stop_messaging(program, tmp_path, hostile_streams):
    p = program("custom", appid=f"qlx.test.{uuid.uuid4().hex[:8]}")
    serve, send = tmp_path / "serve.txt", tmp_path / "send.txt"
    log = p.exe.parent / (p.exe.name + ".stderr.log")
    p.start(serve, "/test", "serve")
    target = int(start_line(serve)["id"])
    table = LinuxTable(p.table)
    try:
        # Sent in the name of this live process, which takes no answer.
        table.send(target, os.getpid(), hostile_streams["gadget"])
        started = time.monotonic()
        table.send(target, os.getpid(), hostile_streams["bomb"])
        assert wait_lines(log, lambda _: len(refusals(log)) >= 2, timeout=20), refusals(log)
        bomb_dropped_after = time.monotonic() - started
    finally:
        table.close()
    marker = tmp_path / "sent-gadget-ran"
    out = p.run(send, "/test", "send", "ping:after", "note:n1", f"gadget:{marker}")
    # The refused object is answered with null, so its sender is not left waiting.
    assert lines_of(send)[-1] == "done 3/3", (out, lines_of(send))
    assert sorted(l for l in lines_of(send) if l.startswith("reply")) == \
        ["reply null", "reply pong:note:n1", "reply pong:ping:after"]
    assert "object from other note:n1" in lines_of(serve)  # the application's own package
    assert not hostile_streams["marker"].exists() and not marker.exists()
    lines = refusals(log)
    assert len(lines) == 3, lines
    assert "gadget.Gadget" in lines[0] and "gadget.Gadget" in lines[2], lines
    assert "REJECTED" in lines[1], lines  # the depth limit of the JDK's filter
    assert bomb_dropped_after < 10, bomb_dropped_after


def test_a_chunk_nobody_takes_does_not_block_the_slot(program, tmp_path):
    p = program("custom", appid=f"qlx.test.{uuid.uuid4().hex[:8]}")
    serve, send = tmp_path / "serve.txt", tmp_path / "send.txt"
    p.start(serve, "/test", "serve")
    table = LinuxTable(p.table)
    try:
        # This test process, alive but no instance, owns the table and never
        # takes the chunk addressed to it: only the instances can free it.
        table.hold(os.getpid())
        started = time.monotonic()
        out = p.run(send, "/test", "send", f"ask:{start_line(serve)['id']}:after-hold")
    finally:
        table.close()
    assert lines_of(send)[-2:] == ["reply pong:after-hold", "done 1/1"], out
    assert time.monotonic() - started < 15


@pytest.mark.parametrize("appid, extra", [("", ""), ("unique", "property inst.exit=1\n")],
                         ids=["main-returns", "system-exit"])
def test_the_last_instance_removes_the_table(program, tmp_path, appid, extra):
    appid = f"qlx.test.{uuid.uuid4().hex[:8]}" if appid else ""
    p = program("custom", appid=appid, extra=extra)
    serve, send = tmp_path / "serve.txt", tmp_path / "send.txt"
    first = p.start(serve, "/test", "serve")
    assert p.table.exists()
    out = p.run(send, "/test", "send", "ping:1")
    assert lines_of(send)[-1] == "done 1/1", out
    assert p.table.exists()  # the first instance still runs
    p.run(send, "/test", "send", "quit")
    first.wait(timeout=30)
    assert wait_lines(serve, lambda lines: lines[-1] == "end serve")
    assert not p.table.exists()


# (filter, class name, verdict): the JDK's pattern syntax as instances apply it.
FILTER_ROWS = [
    ("java.lang.String;java.util.*;inst.**;!*", "java.lang.String", "admit"),
    ("java.lang.String;java.util.*;inst.**;!*", "java.util.HashMap", "admit"),
    ("java.lang.String;java.util.*;inst.**;!*", "java.util.concurrent.ConcurrentHashMap", "refuse"),
    ("java.lang.String;java.util.*;inst.**;!*", "inst.sub.Note", "admit"),
    ("java.lang.String;java.util.*;inst.**;!*", "instx.Note", "refuse"),
    ("java.lang.String;java.util.*;inst.**;!*", "gadget.Gadget", "refuse"),
    ("java.lang.String;java.util.*;inst.**;!*", "[[B", "admit"),  # primitives: always
    ("java.lang.String;java.util.*;inst.**;!*", "[Ljava.lang.String;", "admit"),
    ("java.lang.String;java.util.*;inst.**;!*", "[[Lgadget.Gadget;", "refuse"),
    ("!com.bad.*;com.**", "com.bad.X", "refuse"),
    ("!com.bad.*;com.**", "com.bad.sub.X", "admit"),
    ("com.ok*", "com.okay.X", "admit"),
    ("*", "any.Thing", "admit"),
    ("maxdepth=5;maxrefs=9", "java.lang.String", "refuse"),  # no pattern admits it
    ("", "java.lang.String", "refuse"),
    ("a*b", "ab", "error: instancefilter: bad pattern a*b"),
    ("maxdepth=x", "a", "error: instancefilter: bad limit maxdepth=x"),
    ("maxsize=1", "a", "error: instancefilter: bad limit maxsize=1"),
]


def test_instance_filter_patterns(tmp_path):
    jar = qlxtest.compile_java(qlxtest.ROOT / "tests" / "apps" / "filtercheck", tmp_path / "f.jar",
                               classpath=qlxtest.SUPPORT_JAR)
    r = subprocess.run([str(qlxtest.JAVA), "-Xverify:all", "-cp", f"{qlxtest.SUPPORT_JAR}:{jar}",
                        "com.tarnwick.qlx.FilterCheck", *(f"{f}|{c}" for f, c, _ in FILTER_ROWS)],
                       capture_output=True, text=True, timeout=60)
    assert r.returncode == 0, r.stderr
    got = r.stdout.splitlines()
    for (f, c, verdict), line in zip(FILTER_ROWS, got):
        assert line == verdict, (f, c, line)
    assert len(got) == len(FILTER_ROWS)
