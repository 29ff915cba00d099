#!/usr/bin/env python3
"""Cost of the instances channel, on Linux (HotSpot) and under Wine (Avian).

For each platform, in one run:
1. Object round trips between two instances (the sender waits for each
   reply before the next send): 1 KB messages and 1 MB messages, beside a
   baseline that moves the same bytes to a child process through a pipe and
   back a 4-byte answer (Python on Linux, a small MinGW program under Wine).
2. Handover: a second launch handing its arguments to the first instance and
   printing its answer, beside a plain start of the same program (/help, no
   VM), median of N runs each.
3. Idle cost: CPU time of an idle first instance over 10 seconds (plus the
   Wine server's, under Wine).
4. With --before DIR: the cost of reading received objects through the
   class filter. DIR is a source tree of the launcher before the filter, built
   (build/host/launcher/qlx, build/host/java/qlx-support.jar,
   build/win/launcher/qlx.exe); the same round trips run against its launcher
   and against this one, alternating, and the medians are compared.

usage: bench/instances_bench.py [--rounds N] [--skip-wine] [--before DIR [--filter-only]]
Not part of the tests: it only prints figures.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))
import qlxtest  # noqa: E402
from instances_support import (InstanceProgram, linux_table_path, lines_of, start_line,  # noqa: E402
                               wait_lines)

SIZES = ((1024, 300), (1 << 20, 5))


def python_pipe_baseline(size, count):
    child = subprocess.Popen([sys.executable, "-c", (
        "import sys\n"
        f"r, w = sys.stdin.buffer, sys.stdout.buffer\n"
        f"for _ in range({count}):\n"
        f"    n = 0\n"
        f"    while n < {size}: n += len(r.read1({size} - n))\n"
        f"    w.write(b'done'); w.flush()\n")], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    data = bytes(size)
    start = time.perf_counter()
    for _ in range(count):
        child.stdin.write(data)
        child.stdin.flush()
        child.stdout.read(4)
    elapsed = time.perf_counter() - start
    child.wait()
    return elapsed * 1e6


def cpu_seconds(pid):
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def wineserver_pid():
    out = subprocess.run(["pgrep", "-f", "wineserver"], capture_output=True, text=True).stdout
    return int(out.split()[0]) if out.split() else None


def measure(label, make, baseline, rounds, work):
    custom, handover = make("custom", "c"), make("handover", "h")
    serve = work / f"{label}-serve.txt"
    first = custom.start(serve, "/test", "serve")
    send = work / f"{label}-send.txt"
    args = [f"rt:{size}:{count}" for size, count in SIZES]
    custom.run(send, "/test", "send", *args, timeout=600)
    results = {int(l.split()[1]): int(l.split()[3][:-2]) for l in lines_of(send) if l.startswith("rt ")}
    print(f"\n[{label}] object round trips (sender waits for each reply)")
    for size, count in SIZES:
        ours = results[size] / count
        base = baseline(size, count) / count
        print(f"  {size:>8} B: {ours:9.0f} us per round trip   pipe baseline {base:8.0f} us"
              f"   ratio {ours / base:6.1f}")

    # Idle: the serving instance of the custom program waits for messages.
    pids = [first.pid] + ([wineserver_pid()] if label == "wine" else [])
    before = [cpu_seconds(p) for p in pids if p]
    time.sleep(10)
    after = [cpu_seconds(p) for p in pids if p]
    print(f"  idle first instance over 10 s: {1000 * (after[0] - before[0]):.0f} ms CPU"
          + (f", wine server {1000 * (after[1] - before[1]):.0f} ms" if len(after) > 1 else ""))
    custom.stop_all()

    handover.start(work / f"{label}-hfirst.txt", "/test", "serve")
    handed, plain = [], []
    for i in range(rounds):
        start = time.perf_counter()
        r = handover.run(work / f"{label}-h{i}.txt", "x", str(i))
        handed.append(time.perf_counter() - start)
        assert r.returncode == 13 and r.stdout.startswith(b"answer:"), r
        start = time.perf_counter()
        handover.run(work / f"{label}-p{i}.txt", "/help")
        plain.append(time.perf_counter() - start)
    h, p = statistics.median(handed) * 1000, statistics.median(plain) * 1000
    print(f"  handover, second launch to answer printed: {h:.1f} ms; plain start (/help) "
          f"{p:.1f} ms; handover adds {h - p:.1f} ms")
    handover.stop_all()


def round_trips(program, work, tag):
    """Per-round-trip microseconds for each size, from one sending instance."""
    send = work / f"{tag}.txt"
    program.run(send, "/test", "send", *[f"rt:{size}:{count}" for size, count in SIZES],
                timeout=900)
    results = {int(l.split()[1]): int(l.split()[3][:-2]) for l in lines_of(send)
               if l.startswith("rt ")}
    return {size: results[size] / count for size, count in SIZES}


def filter_decode_cost(work):
    """The filter alone, on HotSpot: microseconds per decode with and without it."""
    jar = qlxtest.compile_java(ROOT / "bench" / "filter_cost", work / "filtercost.jar",
                               classpath=qlxtest.SUPPORT_JAR)
    out = subprocess.run([str(qlxtest.JAVA), "-cp", f"{qlxtest.SUPPORT_JAR}:{jar}",
                          "com.tarnwick.qlx.FilterCost"], capture_output=True, text=True,
                         check=True, timeout=600).stdout
    print("\n[hotspot] decoding one received object, plain stream vs through the filter")
    for line in out.splitlines():
        name, plain, filtered = line.split()
        plain, filtered = float(plain), float(filtered)
        print(f"  {name:>14}: plain {plain:9.2f} us   filtered {filtered:9.2f} us"
              f"   adds {filtered - plain:8.2f} us")


def filter_cost(label, before, after, work, passes=5):
    """Round trips without and with the class filter, alternating."""
    print(f"\n[{label}] class filter: round trips before and after (median of {passes})")
    figures = {"before": {s: [] for s, _ in SIZES}, "after": {s: [] for s, _ in SIZES}}
    for i in range(passes):
        for name, program in (("before", before), ("after", after)):
            program.start(work / f"{label}-{name}-serve{i}.txt", "/test", "serve")
            for size, us in round_trips(program, work, f"{label}-{name}-{i}").items():
                figures[name][size].append(us)
            program.stop_all()
    for program in (before, after):
        if not program.wine:  # a killed instance cannot remove its table
            linux_table_path(exe=program.exe).unlink(missing_ok=True)
    for size, _ in SIZES:
        b = statistics.median(figures["before"][size])
        a = statistics.median(figures["after"][size])
        print(f"  {size:>8} B: before {b:9.0f} us   after {a:9.0f} us   after/before {a / b:5.3f}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=11)
    parser.add_argument("--skip-wine", action="store_true")
    parser.add_argument("--before", type=Path)
    parser.add_argument("--filter-only", action="store_true")
    options = parser.parse_args()
    work = Path(tempfile.mkdtemp(prefix="qlx-instances-bench-"))
    app = ROOT / "tests" / "apps" / "instances"
    try:
        hot = qlxtest.compile_java(app, work / "hot.jar", classpath=qlxtest.SUPPORT_JAR)

        def linux(mode, name, stub=qlxtest.STUB_LINUX, support=qlxtest.SUPPORT_JAR):
            config = (f"mainclass inst.InstanceApp\njvmdll {qlxtest.LIBJVM}\n"
                      f"singleinstance {mode}\nproperty inst.lifetime=600000\n")
            exe = qlxtest.wrap(stub, hot, config, work / f"linux-{name}", "--merge", str(support))
            return InstanceProgram(exe, wine=False)
        if not options.filter_only:
            measure("linux", linux, python_pipe_baseline, options.rounds, work)
        filter_decode_cost(work)
        if options.before:
            old = options.before / "build"
            filter_cost("linux", linux("custom", "before", old / "host/launcher/qlx",
                                       old / "host/java/qlx-support.jar"),
                        linux("custom", "after"), work)

        if not options.skip_wine:
            qlxtest.ensure_wineprefix()
            avian = qlxtest.avian_app_jar("instances", work / "avian.jar")
            pipe = qlxtest.compile_windows_helper(ROOT / "bench" / "pipe_round_trip.c", work)

            def wine(mode, name, stub=qlxtest.STUB_WIN, support=qlxtest.SUPPORT_JAR):
                config = ("mainclass inst.InstanceApp\n" + qlxtest.avian_config() +
                          f"singleinstance {mode}\nproperty inst.lifetime=600000\n")
                exe = qlxtest.wrap(stub, avian, config, work / f"wine-{name}.exe",
                                   "--merge", str(support))
                return InstanceProgram(exe, wine=True)

            def wine_pipe(size, count):
                return float(qlxtest.run_wine(pipe, size, count, timeout=300).stdout)
            if not options.filter_only:
                measure("wine", wine, wine_pipe, options.rounds, work)
            if options.before:
                old = options.before / "build"
                filter_cost("wine", wine("custom", "before", old / "win/launcher/qlx.exe",
                                         old / "host/java/qlx-support.jar"),
                            wine("custom", "after"), work)
            qlxtest.stop_wineserver()
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
