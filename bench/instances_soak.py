#!/usr/bin/env python3
"""Soak and fault runs of the instances subsystem. Each stops by itself and
prints counts whose goal is 0, and figures beside them.

1. Handover storm: N launches of a handover program started at once (50 on
   Linux with HotSpot, 20 under Wine with the test VM). One becomes the first
   instance; every other one must hand its arguments to it exactly once and
   print its answer. Counts: arguments missing, arguments doubled, wrong
   answers or exit codes, launches past the bound (killed), first instances
   beyond one, and what is left behind once all have ended (the table, or a
   held single-instance lock that keeps the next launch from becoming first).
2. Memory: an instance owner receives M byte arrays of mixed sizes (16 B to
   8 KB) from a second instance, each answered. Resident memory of the owner
   after the first 10,000 (half of them, for up to 20,000: the VM warms up
   over the first few thousand) and at the end; the growth goal is under
   5 MB. The
   owner's Java heap is fixed and touched at start (-Xms64m -Xmx64m
   -XX:+AlwaysPreTouch), so the growth is what the launcher keeps. Linux only.

usage: bench/instances_soak.py [--launches 50] [--wine-launches 20]
                               [--messages 100000] [--skip-wine]
The tests run a short form (tests/linux/test_linux_instances_soak.py and the
Wine instances suite).
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))
import qlxtest  # noqa: E402
from instances_support import InstanceProgram, linux_table_path, lines_of, start_line  # noqa: E402

LAUNCH_BOUND_S = 120  # no launch may take longer: the handover waits 55 s at most


def linux_program(work, mode, name, extra=""):
    jar = work / "instances.jar"
    if not jar.exists():
        qlxtest.compile_java(ROOT / "tests" / "apps" / "instances", jar, classpath=qlxtest.SUPPORT_JAR)
    config = (f"mainclass inst.InstanceApp\njvmdll {qlxtest.LIBJVM}\nsingleinstance {mode}\n"
              f"property inst.lifetime=600000\n{extra}")
    exe = qlxtest.wrap(qlxtest.STUB_LINUX, jar, config, work / name, "--merge", str(qlxtest.SUPPORT_JAR))
    return InstanceProgram(exe, wine=False)


def wine_program(work, mode, name, extra=""):
    jar = work / "instances-avian.jar"
    if not jar.exists():
        qlxtest.avian_app_jar("instances", jar)
    config = ("mainclass inst.InstanceApp\n" + qlxtest.avian_config() +
              f"singleinstance {mode}\nproperty inst.lifetime=600000\n{extra}")
    exe = qlxtest.wrap(qlxtest.STUB_WIN, jar, config, work / f"{name}.exe", "--support")
    return InstanceProgram(exe, wine=True)


def _launch(program, record, args):
    return subprocess.Popen(program._command(args), env=program._env(record),
                            cwd=program.exe.parent, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)


def _finish(processes, bound):
    """Waits for every process until `bound` seconds from now; kills the rest.
    Returns {index: (exit code or None when killed, stdout)}."""
    end = time.monotonic() + bound
    results = {}
    for i, process in processes.items():
        try:
            out, _ = process.communicate(timeout=max(0.1, end - time.monotonic()))
            results[i] = (process.returncode, out)
        except subprocess.TimeoutExpired:
            process.kill()
            out, _ = process.communicate()
            results[i] = (None, out)
    return results


def table_left(program):
    """Whether the program's table is still there once every instance ended."""
    if program.wine:
        poke = program.exe.parent / "tablepoke.exe"
        if not poke.exists():
            qlxtest.compile_windows_helper(ROOT / "tests" / "wine_instances" / "tablepoke.c",
                                           program.exe.parent, libs=("advapi32",))
        out = qlxtest.run_wine(poke, f"exe:{qlxtest.wine_path(program.exe)}", "security")
        return not out.stdout.startswith(b"no mapping")
    uid = os.geteuid()
    return linux_table_path(exe=program.exe).exists() or \
        (Path(f"/run/user/{uid}") / linux_table_path(exe=program.exe).name).exists()


def handover_storm(program, launches, work):
    """Counts and figures of one storm of `launches` simultaneous launches."""
    records = {i: work / f"storm-{i}.txt" for i in range(launches)}
    started = time.monotonic()
    processes = {i: _launch(program, records[i], ["/test", "serve", f"tag{i}"]) for i in range(launches)}
    # Every launch but one hands over and ends; the first keeps serving.
    end = time.monotonic() + LAUNCH_BOUND_S
    while time.monotonic() < end and sum(p.poll() is None for p in processes.values()) > 1:
        time.sleep(0.2)
    handed = time.monotonic() - started
    running = [i for i, p in processes.items() if p.poll() is None]
    firsts = [i for i in running if any(l.startswith("start serve") for l in lines_of(records[i]))]
    first = firsts[0] if firsts else None
    # One more launch tells the first instance to end.
    quitter = _launch(program, work / "storm-quit.txt", ["quit"])
    results = _finish({**processes, "quit": quitter}, LAUNCH_BOUND_S)

    seen = [l.split()[-1].split(",")[-1] for l in lines_of(records[first])
            if l.startswith("args from other")] if first is not None else []
    counts = {"missing": 0, "doubled": 0, "wrong answers": 0, "past the bound": 0,
              "extra first instances": max(0, len(firsts) - 1), "left behind": 0}
    for i in range(launches):
        code, out = results[i]
        if code is None:
            counts["past the bound"] += 1
        if i == first:
            continue
        tag = f"tag{i}"
        counts["missing"] += seen.count(tag) == 0
        counts["doubled"] += max(0, seen.count(tag) - 1)
        counts["wrong answers"] += (code, out) != (13, f"answer:/test,serve,{tag}".encode())
    if results["quit"][0] is None:
        counts["past the bound"] += 1
    # Nothing held: the next launch is the first instance again, and after
    # it ends no table remains.
    probe = program.run(work / "storm-probe.txt", "/test", "send", timeout=LAUNCH_BOUND_S)
    probe_start = start_line(work / "storm-probe.txt") if lines_of(work / "storm-probe.txt") else {}
    counts["left behind"] += probe.returncode != 0 or probe_start.get("first") != "true"
    counts["left behind"] += table_left(program)
    if first is None:
        counts["missing"] = launches - 1
    return counts, {"launches": launches, "all handed over after s": round(handed, 1)}


def resident_kb(pid):
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


def memory_soak(work, messages):
    """Resident memory of an instance owner that receives `messages` messages."""
    program = linux_program(work, "custom", "memory",
                            "option -Xms64m\noption -Xmx64m\noption -XX:+AlwaysPreTouch\n")
    program_env = program._env
    program._env = lambda record: {**program_env(record), "INST_QUIET": "1"}
    serve, send = work / "memory-serve.txt", work / "memory-send.txt"
    owner = program.start(serve, "/test", "serve")
    try:
        time.sleep(2)
        before = resident_kb(owner.pid)
        started = time.monotonic()
        sender = _launch(program, send, ["/test", "send", f"flood:{messages}"])
        after_first = None
        while sender.poll() is None:
            if after_first is None and any(l.startswith("sent ") for l in lines_of(send)):
                after_first = resident_kb(owner.pid)
            time.sleep(0.2)
        took = time.monotonic() - started
        at_end = resident_kb(owner.pid)
        done = [l for l in lines_of(send) if l.startswith("flood ")]
        answered = int(done[0].split()[2]) if done else 0
        program.run(work / "memory-quit.txt", "/test", "send", "quit")
        owner.wait(timeout=60)
    finally:
        program.stop_all()
    reference = after_first if after_first is not None else before
    growth = at_end - reference
    counts = {"messages unanswered": messages - answered,
              "growth past 5 MB": int(growth > 5 * 1024)}
    figures = {"messages": messages, "resident at start KB": before,
               "after the first part KB": after_first, "at the end KB": at_end,
               "growth KB": growth, "seconds": round(took, 1)}
    linux_table_path(exe=program.exe).unlink(missing_ok=True)
    return counts, figures


def report(title, counts, figures):
    print(f"\n[{title}]")
    for name, value in figures.items():
        print(f"  {name:>28}: {value}")
    for name, value in counts.items():
        print(f"  {name:>28}: {value}   (goal 0)")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--launches", type=int, default=50)
    parser.add_argument("--wine-launches", type=int, default=20)
    parser.add_argument("--messages", type=int, default=100000)
    parser.add_argument("--skip-wine", action="store_true")
    options = parser.parse_args()
    work = Path(tempfile.mkdtemp(prefix="qlx-instances-soak-"))
    try:
        report("linux handover storm", *handover_storm(
            linux_program(work, "handover", "storm"), options.launches, work))
        report("linux memory", *memory_soak(work, options.messages))
        if not options.skip_wine:
            qlxtest.ensure_wineprefix()
            wine_work = work / "wine"
            wine_work.mkdir()
            report("wine handover storm", *handover_storm(
                wine_program(wine_work, "handover", "storm"), options.wine_launches, wine_work))
            qlxtest.stop_wineserver()
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
