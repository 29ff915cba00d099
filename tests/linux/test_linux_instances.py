"""Instances on the real HotSpot JVM with -Xcheck:jni: the handover of a
second launch's arguments with the first instance's answer, objects with
replies between processes (1 MB included), ownership passing on after the
owner is killed, a hostile process of the same user writing into the table,
and the table's removal by its last instance."""
import os
import shutil
import subprocess
import time
import uuid
from pathlib import Path

import pytest

import qlxtest
from instances_support import (InstanceProgram, LinuxTable, as_user, custom_exchange_expectations,
                               kill_hard, linux_table_path, lines_of, other_user, refusals,
                               start_line,
                               stream_array, stream_forged_fields, stream_list_capacity,
                               stream_named, stream_string, wait_lines)
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
    the marker file, a 5.7 KB nested-set bomb, a 2.6 KB nest of sets within
    the depth limit whose hash codes take 4^16 steps, a 27-byte long[67108863],
    and a class name that would rewrite the log."""
    out = tmp_path_factory.mktemp("streams")
    marker = out / "gadget-ran"
    for args in (("gadget", out / "gadget.bin", marker), ("bomb", out / "bomb.bin"),
                 ("nest", out / "nest.bin", 16, 4)):
        subprocess.run([str(qlxtest.JAVA), "-cp", str(instances_jar), "inst.Streams",
                        *map(str, args)], check=True, timeout=60)
    return {"gadget": (out / "gadget.bin").read_bytes(), "bomb": (out / "bomb.bin").read_bytes(),
            "nest": (out / "nest.bin").read_bytes(), "longs": stream_array("J", 67108863),
            "named": stream_named("evil\x1b[2J\nInstance message from 1 dropped: forged"),
            "marker": marker}


HOSTILE = ("gadget", "bomb", "nest", "longs", "named")


def test_a_hostile_peer_cannot_run_code_or_stop_messaging(program, tmp_path, hostile_streams):
    """On HotSpot with -Xmx256m: every hostile stream is refused at once with
    one harmless line, no code of a refused class runs, and an onReceive that
    does not return holds up later messages only for its bound."""
    p = program("custom", appid=f"qlx.test.{uuid.uuid4().hex[:8]}", extra="option -Xmx256m\n")
    serve, send = tmp_path / "serve.txt", tmp_path / "send.txt"
    log = p.exe.parent / (p.exe.name + ".stderr.log")
    first = p.start(serve, "/test", "serve")
    target = int(start_line(serve)["id"])
    table = LinuxTable(p.table)
    try:
        # Sent in the name of this live process, which takes no answer.
        for name in HOSTILE:
            table.send(target, os.getpid(), hostile_streams[name])
        assert wait_lines(log, lambda _: len(refusals(log)) >= len(HOSTILE), timeout=60), \
            refusals(log)
        # Each refusal's null reply goes to this process, which never takes
        # it, so each holds the slot for its bound: the sender below starts
        # once they are gone and has its whole wait for its own replies.
        table.wait_quiet()
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
    assert len(lines) == len(HOSTILE) + 1, lines
    reasons = dict(zip(HOSTILE + ("sent gadget",), lines))
    for name, reason in (("gadget", "gadget.Gadget is not accepted"),
                         ("bomb", "nested deeper than maxdepth=20"),
                         ("nest", "reach shared objects more than"),
                         ("longs", "array length 67108863 of [J exceeds what the 27-byte message"),
                         ("named", "evil\\x1b[2J\\x0aInstance message from 1 dropped: forged"),
                         ("sent gadget", "gadget.Gadget is not accepted")):
        assert reason in reasons[name], (name, reasons[name])
    text = log.read_text(errors="replace")
    assert "\x1b" not in text and "OutOfMemoryError" not in text, text

    # A delivery that overruns its bound: the next message still gets through.
    stalled = p.run(tmp_path / "stall.txt", "/test", "send", "stall:9000", "ping:after-stall")
    replies = [l for l in lines_of(tmp_path / "stall.txt") if l.startswith("reply")]
    assert replies == ["reply pong:ping:after-stall", "reply pong:stall:9000"], stalled
    assert "its delivery has run for 5 s; later messages go to a new delivery thread" in \
        log.read_text()
    assert first.poll() is None


def test_answers_count_only_from_the_instance_asked(program, tmp_path):
    """Any process of the user can post a reply: a second launch prints only
    the answer of the instance it handed its arguments to, with control
    characters made visible; a reply to an object counts only from the
    instance the object went to; a stray answer is printed nowhere."""
    handover = program("handover", name="hand")
    first_out = tmp_path / "first.out"
    with open(first_out, "wb") as out:
        handover.start(tmp_path / "first.txt", "/test", "serve", stdout=out)
    first_id = int(start_line(tmp_path / "first.txt")["id"])
    table = LinuxTable(handover.table)
    try:
        table.send(first_id, os.getpid(), b"\x1b]0;stray\x07", reply_id=0, kind=2)
        second = subprocess.Popen(handover._command(["slow:3000", "\x1b[2Jx"]),
                                  env=handover._env(tmp_path / "second.txt"),
                                  stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL)
        assert wait_lines(tmp_path / "first.txt", lambda ls: any(l.startswith("args") for l in ls))
        table.send(second.pid, os.getpid(), b"forged answer", reply_id=0, kind=2)
        printed, _ = second.communicate(timeout=60)
    finally:
        table.close()
    assert (second.returncode, printed) == (13, b"answer:slow:3000,\\x1b[2Jx")
    assert first_out.read_bytes() == b""

    custom = program("custom", name="cust", appid=f"qlx.test.{uuid.uuid4().hex[:8]}")
    custom.start(tmp_path / "serve.txt", "/test", "serve")
    sender = custom.start(tmp_path / "send.txt", "/test", "send", "stall:3000")
    table = LinuxTable(custom.table)
    try:
        assert wait_lines(tmp_path / "serve.txt",
                          lambda ls: "object from other stall:3000" in ls)
        # Reply id 1 is the sender's first; this process was not asked.
        table.send(sender.pid, os.getpid(), stream_string("forged"), reply_id=1, kind=2)
        sender.wait(timeout=60)
    finally:
        table.close()
    assert [l for l in lines_of(tmp_path / "send.txt") if l.startswith(("reply", "done"))] == \
        ["reply pong:stall:3000", "done 1/1"]


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
    ("maxdepth=5;maxrefs=9", "java.lang.String", "error: instancefilter: no class pattern"),
    ("a*b", "ab", "error: instancefilter: bad pattern a*b"),
]


def grammar_rows():
    """The instancefilter grammar's table, shared with the generator's unit test."""
    table = qlxtest.ROOT / "tests" / "data" / "instancefilter_grammar.tsv"
    for line in table.read_text(encoding="utf-8").splitlines():
        if line and not line.startswith("#"):
            verdict, flt, problem = line.split("\t")
            yield flt.replace("\\t", "\t"), problem


def test_instance_filter_patterns(tmp_path):
    jar = qlxtest.compile_java(qlxtest.ROOT / "tests" / "apps" / "filtercheck", tmp_path / "f.jar",
                               classpath=qlxtest.SUPPORT_JAR)
    # A filter the grammar accepts admits or refuses; one it does not is an error.
    grammar = [(f, "x", f"error: instancefilter: {p}" if p else None) for f, p in grammar_rows()]
    rows = FILTER_ROWS + grammar
    r = subprocess.run([str(qlxtest.JAVA), "-Xverify:all", "-cp", f"{qlxtest.SUPPORT_JAR}:{jar}",
                        "com.tarnwick.qlx.FilterCheck", *(f"{f}|{c}" for f, c, _ in rows)],
                       capture_output=True, text=True, timeout=60, encoding="utf-8")
    assert r.returncode == 0, r.stderr
    got = r.stdout.splitlines()
    for (f, c, verdict), line in zip(rows, got):
        assert line == verdict if verdict else not line.startswith("error"), (f, c, line)
    assert len(got) == len(rows)


@pytest.fixture(scope="module")
def probe_jar(tmp_path_factory):
    out = tmp_path_factory.mktemp("probe") / "probe.jar"
    return qlxtest.compile_java(qlxtest.ROOT / "tests" / "apps" / "filtercheck", out,
                                classpath=qlxtest.SUPPORT_JAR)


def java_stream(instances_jar, out, kind, *args):
    subprocess.run([str(qlxtest.JAVA), "-cp", str(instances_jar), "inst.Streams", kind, str(out),
                    *map(str, args)], check=True, timeout=60)
    return out.read_bytes()


DEFAULT = "java.lang.String;java.lang.Integer;java.lang.Number;java.lang.Long;java.util.*;inst.**;!*"


def test_received_streams_are_walked_before_they_are_read(tmp_path, instances_jar, probe_jar):
    """Read through the filter on HotSpot with -Xmx256m: what would take the
    receiver down is refused at once, with its reason; what applications send
    is read."""
    streams = {
        "legit": java_stream(instances_jar, tmp_path / "legit", "legit"),
        "nest": java_stream(instances_jar, tmp_path / "nest", "nest", 16, 4),
        "bomb": java_stream(instances_jar, tmp_path / "bomb", "bomb"),
        "proxy": java_stream(instances_jar, tmp_path / "proxy", "proxy"),
        "longs": stream_array("J", 67108863),
        "objects": stream_array("Ljava.lang.String;", 50_000_000, b"\x70" * 1000),
        "bytes": stream_array("B", 1000, bytes(1000)),
        "capacity": stream_list_capacity(0x7FFFFFFF),
        "forged": stream_forged_fields(),
        "truncated": java_stream(instances_jar, tmp_path / "legit2", "legit")[:5000],
    }
    assert (len(streams["longs"]), len(streams["nest"]) < 3000) == (27, True)
    rows = [  # stream, filter, what the read gives
        ("legit", DEFAULT, "read java.util.LinkedList"),
        ("bytes", DEFAULT, "read [B"),
        ("bytes", DEFAULT + ";maxarray=999", "refused java.io.IOException: array length 1000 exceeds maxarray=999"),
        ("nest", DEFAULT, "refused java.io.IOException: the objects reach shared objects more than"),
        ("nest", "*;maxdepth=100", "refused java.io.IOException: the objects reach shared objects more than"),
        ("bomb", DEFAULT, "refused java.io.IOException: objects nested deeper than maxdepth=20"),
        ("longs", DEFAULT, "refused java.io.IOException: array length 67108863 of [J exceeds what the 27-byte message holds"),
        ("objects", "*", "refused java.io.IOException: array length 50000000 of [Ljava.lang.String; exceeds what the"),
        ("capacity", DEFAULT, "refused java.io.IOException: java.util.ArrayList claims 2147483647 elements"),
        ("forged", DEFAULT, "refused java.io.IOException: java.util.Date has no serial field x"),
        ("proxy", "!gadget.**;*", "refused java.lang.ClassNotFoundException: gadget.Marker is not accepted"),
        ("proxy", "*", "read jdk.proxy"),
        ("truncated", DEFAULT, "refused java.io.StreamCorruptedException: the message ends inside"),
    ]
    for name, data in streams.items():
        (tmp_path / f"{name}.bin").write_bytes(data)
    r = subprocess.run([str(qlxtest.JAVA), "-Xmx256m", "-cp",
                        f"{qlxtest.SUPPORT_JAR}:{probe_jar}:{instances_jar}",
                        "com.tarnwick.qlx.StreamProbe",
                        *(f"{flt}|{tmp_path / name}.bin" for name, flt, _ in rows)],
                       capture_output=True, text=True, timeout=120)
    assert r.returncode == 0, r.stderr
    got = r.stdout.splitlines()
    assert len(got) == len(rows), r.stdout + r.stderr
    for (name, flt, expected), line in zip(rows, got):
        verdict, ms, rest = line.split(" ", 2)
        assert f"{verdict} {rest}".startswith(expected), (name, flt, line)
        assert int(ms) < 2000, (name, line)  # nothing runs long, the refused least of all


@pytest.fixture
def shared_dir():
    """A folder every user can reach, for programs run as another user."""
    import tempfile
    where = Path(tempfile.mkdtemp(prefix="qlx-inst-users-"))
    where.chmod(0o755)
    yield where
    shutil.rmtree(where, ignore_errors=True)


@pytest.mark.parametrize("owner, runtime_dir", [("root", False), ("qlxowner", True),
                                                ("qlxowner", False)],
                         ids=["root-takes-its-name-back", "user-moves-to-its-runtime-dir",
                              "user-told-why"])
def test_a_table_name_another_user_took(instances_jar, shared_dir, owner, runtime_dir):
    """Another user creates the table's file in /dev/shm before the program
    starts: root removes it and serves; a user moves to /run/user/<uid>,
    which only it can write; without one it runs on and says in one line why
    it has no instance services."""
    squat_uid, squat_gid = other_user("qlxsquat")
    uid, gid = (0, 0) if owner == "root" else other_user(owner)
    home = shared_dir / owner
    home.mkdir()
    os.chown(home, uid, gid)
    config = (f"mainclass inst.InstanceApp\njvmdll {qlxtest.LIBJVM}\nsingleinstance custom\n"
              "property inst.lifetime=60000\n")
    exe = qlxtest.wrap(qlxtest.STUB_LINUX, instances_jar, config, home / "inst",
                       "--merge", str(qlxtest.SUPPORT_JAR))
    info = exe.stat()
    name = f"qlx-{uid}-exe-{info.st_dev}-{info.st_ino}"
    squatted = Path("/dev/shm") / name
    run_user = Path(f"/run/user/{uid}")
    made_run_user = runtime_dir and not run_user.exists()
    if made_run_user:
        run_user.mkdir(parents=True, mode=0o700)
        os.chown(run_user, uid, gid)
    squat = subprocess.run(as_user(squat_uid, squat_gid, ["/usr/bin/python3", "-c",
                           f"import os; f = os.open({str(squatted)!r}, os.O_CREAT | os.O_WRONLY, 0o666);"
                           "os.fchmod(f, 0o666); os.write(f, b'squat')"]), capture_output=True)
    assert squat.returncode == 0, squat

    def run(*args, background=False):
        record = home / f"{args[1]}.txt"
        command = as_user(uid, gid, [exe, *args]) if owner != "root" else [str(exe), *args]
        env = {**os.environ, "INST_RECORD": str(record), "HOME": str(home)}
        if background:
            return subprocess.Popen(command, env=env, cwd=home, stdin=subprocess.DEVNULL,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL), record
        return subprocess.run(command, env=env, cwd=home, capture_output=True, timeout=90), record

    try:
        first, serve = run("/test", "serve", background=True)
        assert wait_lines(serve, lambda ls: any(l.startswith("start") for l in ls))
        out, send = run("/test", "send", "ping:1", "quit")
        first.wait(timeout=60)
        log = (home / "inst.stderr.log").read_text(errors="replace")
        told = [l for l in log.splitlines() if l.startswith("Instance services are unavailable")]
        if owner != "root" and not runtime_dir:
            assert start_line(serve)["available"] == "false"
            # One line from each of the two runs.
            assert told == [f"Instance services are unavailable: {squatted} belongs to another "
                            f"user (uid {squat_uid})"] * 2, log
            assert out.returncode == 0, out
        else:
            assert lines_of(send)[-2:] == ["reply pong:quit", "done 2/2"], (out, log)
            assert told == [], log
        # The squatter's file is untouched where the owner could not take it.
        assert squatted.exists() == (owner != "root")
        assert not (run_user / name).exists()  # removed by the last instance
    finally:
        squatted.unlink(missing_ok=True)
        if made_run_user:
            shutil.rmtree(run_user, ignore_errors=True)


@pytest.mark.parametrize("jdk", ["17", "25"])
def test_a_vm_that_fails_to_start_leaves_no_table(tmp_path, instances_jar, jdk):
    """HotSpot ends a process whose VM cannot be made without running its exit
    handlers: the table is given up in the VM's abort hook."""
    home = qlxtest.JDK
    if jdk == "25":
        qlxtest.require_jdk25()
        home = qlxtest.JDK25
    config = (f"mainclass inst.InstanceApp\njvmdll {home}/lib/server/libjvm.so\n"
              "singleinstance custom\noption -Xshare:on\n"
              f"option -XX:SharedArchiveFile={tmp_path}/missing.jsa\n")
    exe = qlxtest.wrap(qlxtest.STUB_LINUX, instances_jar, config, tmp_path / "broken",
                       "--merge", str(qlxtest.SUPPORT_JAR))
    table = linux_table_path(exe=exe)
    r = qlxtest.run_native(exe, "/test", "serve", env={"INST_RECORD": str(tmp_path / "r.txt")})
    left = table.exists()
    table.unlink(missing_ok=True)
    assert r.returncode != 0 and b"Error occurred during initialization of VM" in r.stdout + r.stderr, r
    assert not left
