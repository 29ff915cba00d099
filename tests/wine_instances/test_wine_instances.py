"""Instances under Wine, several real processes running real Java (Avian):
the handover over the executable's own table, objects with replies between
two programs sharing an application id, ownership after the owner is
killed, a table garbled by another process, a hostile process of the same
user writing objects into the table, and the table's name and security."""
import shutil
import subprocess
import time
import uuid

import pytest

import qlxtest
from instances_support import (custom_exchange_expectations, kill_hard, lines_of, refusals,
                               start_line, wait_lines)


def test_commands_are_never_handed_over(program, tmp_path):
    # Decided before the handover, a command runs itself: /status answers
    # that the service is not installed (282), an /install whose start type
    # is refused registers nothing (302), and none of their command lines,
    # the password among them, reaches the running instance.
    p = program("handover")
    first = tmp_path / "first.txt"
    p.start(first, "/test", "serve")
    for args, code in [(("/install:bogus", "/account:bob", "/password:S3cret"), 302),
                       (("/status",), 282), (("/help",), 0)]:
        r = p.run(tmp_path / "command.txt", *args)
        assert r.returncode == code % 256, (args, r)
        assert b"answer:" not in r.stdout and b"S3cret" not in r.stdout, args
    second = p.run(tmp_path / "second.txt", "a")
    assert (second.returncode, second.stdout) == (13, b"answer:a")
    assert [line for line in lines_of(first) if "args from other" in line] == ["args from other a"]


def test_handover_over_the_executable_table_and_copies_share_nothing(program, tmp_path):
    p = program("handover")
    first = tmp_path / "first.txt"
    p.start(first, "/test", "serve")
    assert (start_line(first)["first"], start_line(first)["listed"]) == ("true", "1")
    second = p.run(tmp_path / "second.txt", "a", "b c")
    assert (second.returncode, second.stdout) == (13, b"answer:a,b c")
    assert "args from other a,b c" in lines_of(first)

    copy_dir = tmp_path / "copy"
    copy_dir.mkdir()
    copy = program("handover", directory=copy_dir)
    shutil.copyfile(p.exe, copy.exe)
    other = tmp_path / "copy.txt"
    copy.start(other, "/test", "serve")  # not handed over: its table is its own
    assert (start_line(other)["first"], start_line(other)["listed"]) == ("true", "1")


def test_objects_and_replies_between_programs_of_one_appid(program, tmp_path):
    appid = f"qlx.test.{uuid.uuid4().hex[:8]}"
    serving, sending = program("custom", "serving", appid), program("custom", "sending", appid)
    serve, send = tmp_path / "serve.txt", tmp_path / "send.txt"
    serving.start(serve, "/test", "serve")
    out = sending.run(send, "/test", "send", "ping:1", "self:hello", "bytes:1024", "bytes:1025",
                      "quit")
    custom_exchange_expectations(serve, send, out)
    assert start_line(send)["first"] == "false"
    assert start_line(send)["listed"] == "2"


def test_the_next_instance_takes_over_from_a_killed_owner(program, tmp_path):
    p = program("custom", appid=f"qlx.test.{uuid.uuid4().hex[:8]}")
    a, b, c = tmp_path / "a.txt", tmp_path / "b.txt", tmp_path / "c.txt"
    owner = p.start(a, "/test", "serve")
    p.start(b, "/test", "serve")
    kill_hard(owner)
    time.sleep(1)
    dead = start_line(a)["id"]
    out = p.run(c, "/test", "send", f"to:{dead}:lost", "ping:after")
    assert lines_of(c)[-2:] == ["reply pong:ping:after", "done 1/1"], out
    assert "object from other ping:after" in lines_of(b)


def test_a_garbled_table_and_a_full_list(program, tmp_path, tablepoke):
    appid = f"qlx.test.{uuid.uuid4().hex[:8]}"
    mapping = f"app:{appid}"
    p = program("custom", appid=appid)
    serve, send = tmp_path / "serve.txt", tmp_path / "send.txt"
    first = p.start(serve, "/test", "serve")
    poked = qlxtest.run_wine(tablepoke, mapping, "corrupt", start_line(serve)["id"])
    assert poked.stdout.strip() == b"ready", poked
    filler = subprocess.Popen(["wine", str(tablepoke), mapping, "fill", "60000"],
                              env=qlxtest.wine_env(), stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    try:
        assert filler.stdout.readline().strip() == b"ready"
        out = p.run(send, "/test", "send", "ping:still-here")
        assert lines_of(send)[-2:] == ["reply pong:ping:still-here", "done 1/1"], out
        # 250 live entries: the new instance runs but is not listed.
        assert (start_line(send)["listed"], start_line(send)["self-listed"]) == ("251", "false")
        assert first.poll() is None
    finally:
        filler.kill()


HOSTILE = ("gadget", "bomb", "nest", "longs", "capacity", "named")


def test_a_hostile_peer_cannot_run_code_or_stop_messaging(program, tmp_path, tablepoke,
                                                          hostile_streams):
    """On the test VM, which has no input filter of its own: every hostile
    stream is refused with one harmless line before the VM reads it (the VM
    would allocate 512 MB for the 27-byte array, 16 GB for the list), and an
    onReceive that does not return holds up later messages only for its bound."""
    appid = f"qlx.test.{uuid.uuid4().hex[:8]}"
    p = program("custom", appid=appid)
    serve, send = tmp_path / "serve.txt", tmp_path / "send.txt"
    log = p.exe.parent / (p.exe.name + ".stderr.log")
    first = p.start(serve, "/test", "serve")
    target = start_line(serve)["id"]
    for stream in HOSTILE:
        poked = qlxtest.run_wine(tablepoke, f"app:{appid}", "send", target,
                                 qlxtest.wine_path(hostile_streams[stream]))
        assert poked.stdout.strip() == b"ready", poked
    assert wait_lines(log, lambda _: len(refusals(log)) >= len(HOSTILE), timeout=60), refusals(log)
    marker = tmp_path / "sent-gadget-ran"
    out = p.run(send, "/test", "send", "ping:after", f"gadget:{qlxtest.wine_path(marker)}")
    # The refused object is answered with null, so its sender is not left waiting.
    assert lines_of(send)[-1] == "done 2/2", (out, lines_of(send))
    assert sorted(l for l in lines_of(send) if l.startswith("reply")) == \
        ["reply null", "reply pong:ping:after"]
    assert not hostile_streams["marker"].exists() and not marker.exists()
    lines = refusals(log)
    assert len(lines) == len(HOSTILE) + 1, lines
    reasons = dict(zip(HOSTILE + ("sent gadget",), lines))
    for name, reason in (("gadget", "gadget.Gadget is not accepted"),
                         ("bomb", "nested deeper than maxdepth=20"),
                         ("nest", "reach shared objects more than"),
                         ("longs", "array length 67108863 of [J exceeds what the 27-byte message"),
                         ("capacity", "java.util.ArrayList claims 2147483647 elements"),
                         ("named", "evil\\x1b[2J\\x0aInstance message from 1 dropped: forged"),
                         ("sent gadget", "gadget.Gadget is not accepted")):
        assert reason in reasons[name], (name, reasons[name])
    assert "\x1b" not in log.read_text(errors="replace")

    stalled = p.run(tmp_path / "stall.txt", "/test", "send", "stall:9000", "ping:after-stall")
    replies = [l for l in lines_of(tmp_path / "stall.txt") if l.startswith("reply")]
    assert replies == ["reply pong:ping:after-stall", "reply pong:stall:9000"], stalled
    assert "its delivery has run for 5 s; later messages go to a new delivery thread" in \
        log.read_text()
    assert first.poll() is None


def test_a_chunk_nobody_takes_does_not_block_the_slot(program, tmp_path, tablepoke):
    appid = f"qlx.test.{uuid.uuid4().hex[:8]}"
    p = program("custom", appid=appid)
    serve, send = tmp_path / "serve.txt", tmp_path / "send.txt"
    p.start(serve, "/test", "serve")
    # A live process that runs no receiver makes itself the owner and leaves
    # a chunk for itself in the slot: only the instances can free it.
    holder = subprocess.Popen(["wine", str(tablepoke), f"app:{appid}", "hold", "60000"],
                              env=qlxtest.wine_env(), stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    try:
        assert holder.stdout.readline().strip() == b"ready"
        started = time.monotonic()
        out = p.run(send, "/test", "send", f"ask:{start_line(serve)['id']}:after-hold")
        assert lines_of(send)[-2:] == ["reply pong:after-hold", "done 1/1"], out
        assert time.monotonic() - started < 30
    finally:
        holder.kill()


def test_the_table_is_named_for_the_user_and_granted_to_the_user_alone(program, tmp_path,
                                                                        tablepoke):
    appid = f"qlx.test.{uuid.uuid4().hex[:8]}"
    by_appid, by_file = program("custom", "byappid", appid), program("custom", "byfile")
    by_appid.start(tmp_path / "a.txt", "/test", "serve")
    by_file.start(tmp_path / "b.txt", "/test", "serve")
    for table in (f"app:{appid}", f"exe:{qlxtest.wine_path(by_file.exe)}"):
        out = qlxtest.run_wine(tablepoke, table, "security")
        assert out.returncode == 0, out
        fields = dict(l.split("=", 1) for l in out.stdout.decode().splitlines() if "=" in l)
        user = fields["user"]
        assert user.startswith("S-1-5-"), fields
        assert fields["name"].startswith(f"Local\\qlx.{user}."), fields
        assert fields["owner"] == user, fields
        assert fields["aces"] == "1" and fields["ace0"].startswith(f"allow {user} "), fields


@pytest.mark.parametrize("what, suffix", [("mapping", ".qlx.mapping"), ("mutex", ".slot.qlx.mutex"),
                                          ("change", ".change")])
def test_objects_someone_else_made_first_are_not_used(program, tmp_path, tablepoke, what, suffix):
    """An object of the table made first by another owner, open to everyone:
    the program runs without instance services and says why in one line."""
    appid = f"qlx.test.{uuid.uuid4().hex[:8]}"
    squatter = subprocess.Popen(["wine", str(tablepoke), f"app:{appid}", "squat", what, "60000"],
                                env=qlxtest.wine_env(), stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    try:
        assert squatter.stdout.readline().strip() == b"owner=S-1-5-32-545"
        assert squatter.stdout.readline().strip() == b"ready"
        p = program("custom", appid=appid, extra="property inst.lifetime=500\n")
        out = p.run(tmp_path / "serve.txt", "/test", "serve", timeout=120)
    finally:
        squatter.kill()
    assert out.returncode == 0, out
    assert start_line(tmp_path / "serve.txt")["available"] == "false"
    log = (p.exe.parent / (p.exe.name + ".stderr.log")).read_text(errors="replace")
    told = [l for l in log.splitlines() if l.startswith("Instance services are unavailable")]
    assert len(told) == 1 and told[0].endswith(f".app.{appid}{suffix} belongs to another user"), log


def test_a_storm_of_handover_launches(tmp_path):
    """Short form of the storm in bench/instances_soak.py, on the test VM."""
    import sys
    sys.path.insert(0, str(qlxtest.ROOT / "bench"))
    import instances_soak
    counts, figures = instances_soak.handover_storm(
        instances_soak.wine_program(tmp_path, "handover", "storm"), 5, tmp_path)
    assert set(counts.values()) == {0}, (counts, figures)
