"""Instances on the real HotSpot JVM with -Xcheck:jni: the handover of a
second launch's arguments with the first instance's answer, objects with
replies between processes (1 MB included), and ownership passing on after
the owner is killed."""
import time

import pytest

import qlxtest
from instances_support import (InstanceProgram, custom_exchange_expectations, kill_hard, lines_of,
                               start_line, wait_lines)
from linux_e2e import JNI_COMPLAINTS

APP = qlxtest.ROOT / "tests" / "apps" / "instances"


@pytest.fixture(scope="module")
def instances_jar(tmp_path_factory):
    out = tmp_path_factory.mktemp("instances") / "instances.jar"
    return qlxtest.compile_java(APP, out, classpath=qlxtest.SUPPORT_JAR)


@pytest.fixture
def program(tmp_path, instances_jar):
    made = []

    def make(mode, name="inst", appid=""):
        config = (f"mainclass inst.InstanceApp\njvmdll {qlxtest.LIBJVM}\noption -Xcheck:jni\n"
                  f"singleinstance {mode}\nproperty inst.lifetime=60000\n"
                  + (f"appid {appid}\n" if appid else ""))
        exe = qlxtest.wrap(qlxtest.STUB_LINUX, instances_jar, config, tmp_path / name,
                           "--merge", str(qlxtest.SUPPORT_JAR))
        p = InstanceProgram(exe, wine=False)
        made.append(p)
        return p
    yield make
    for p in made:
        p.stop_all()
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
