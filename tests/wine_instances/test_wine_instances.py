"""Instances under Wine, several real processes running real Java (Avian):
the handover over the executable's own table, objects with replies between
two programs sharing an application id, ownership after the owner is
killed, a table garbled by another process, a hostile process of the same
user writing objects into the table, and the table's name and security."""
import shutil
import subprocess
import time
import uuid

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


def test_a_hostile_peer_cannot_run_code_or_stop_messaging(program, tmp_path, tablepoke,
                                                          hostile_streams):
    appid = f"qlx.test.{uuid.uuid4().hex[:8]}"
    p = program("custom", appid=appid)
    serve, send = tmp_path / "serve.txt", tmp_path / "send.txt"
    log = p.exe.parent / (p.exe.name + ".stderr.log")
    p.start(serve, "/test", "serve")
    target = start_line(serve)["id"]
    for stream in ("gadget", "bomb"):
        poked = qlxtest.run_wine(tablepoke, f"app:{appid}", "send", target,
                                 qlxtest.wine_path(hostile_streams[stream]))
        assert poked.stdout.strip() == b"ready", poked
    assert wait_lines(log, lambda _: len(refusals(log)) >= 2, timeout=20), refusals(log)
    marker = tmp_path / "sent-gadget-ran"
    out = p.run(send, "/test", "send", "ping:after", f"gadget:{qlxtest.wine_path(marker)}")
    # The refused object is answered with null, so its sender is not left waiting.
    assert lines_of(send)[-1] == "done 2/2", (out, lines_of(send))
    assert sorted(l for l in lines_of(send) if l.startswith("reply")) == \
        ["reply null", "reply pong:ping:after"]
    assert not hostile_streams["marker"].exists() and not marker.exists()
    # Refused by the filter, before the VM looks for the class: one line each.
    lines = refusals(log)
    assert len(lines) == 3, lines
    assert all("gadget.Gadget is not accepted" in lines[i] for i in (0, 2)), lines


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
