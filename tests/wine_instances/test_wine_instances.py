"""Instances under Wine, several real processes running real Java (Avian):
the handover over the executable's shared section, objects with replies
between two programs sharing an application id, ownership after the owner
is killed, and a table garbled by another process."""
import shutil
import subprocess
import time
import uuid

import qlxtest
from instances_support import (custom_exchange_expectations, kill_hard, lines_of, start_line,
                               wait_lines)


def test_handover_over_the_shared_section_and_copies_share_nothing(program, tmp_path):
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
    mapping = f"{appid}.qlx.mapping"
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
