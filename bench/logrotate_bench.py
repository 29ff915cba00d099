#!/usr/bin/env python3
"""Cost of rotated logs, on Linux (HotSpot) and under Wine (Avian).

For each platform, in one run, with tests/apps/logflood writing numbered
lines from Java and from a native library to a redirected standard output:
1. Throughput: the same lines into a plain appended file (the baseline) and
   into a rotated log (`logrotate 4M`, several rotations during the run),
   in MB/s of log written. Each figure is the median of N runs of
   (time of a run with the lines - time of a run without lines), so the
   start of the VM is not counted.
   Under Wine, bench/wine_pipe_cost.c shows the floor of any pipe behind
   the standard handle there: Wine carries every pipe write through its
   server, while file writes go straight to the file.
2. Idle cost: CPU time spent by the log's draining thread (Linux: the
   thread named qlx-logpump) or by the whole process (Wine: with rotation
   beside without) while the program sleeps for 8 seconds.

usage: bench/logrotate_bench.py [--rounds N] [--skip-wine] [--skip-linux]
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

APP = ROOT / "tests" / "apps" / "logflood"
TICK = os.sysconf("SC_CLK_TCK")
TABLES = []


class Platform:
    def __init__(self, name, work, wine):
        self.name, self.work, self.wine = name, work, wine
        if wine:
            self.jar = qlxtest.avian_app_jar("logflood", work / "flood.jar")
            self.native = work / "lognative.dll"
            subprocess.run(["x86_64-w64-mingw32-gcc", "-shared", "-O2", "-I",
                            str(qlxtest.JDK / "include"), "-I", str(ROOT / "cmake" / "jni_win"),
                            "-o", str(self.native), str(APP / "native" / "lognative.c")],
                           check=True)
        else:
            self.jar = qlxtest.compile_java(APP / "logflood", work / "flood.jar")
            self.native = work / "liblognative.so"
            inc = qlxtest.JDK / "include"
            subprocess.run(["cc", "-shared", "-fPIC", "-O2", "-I", str(inc), "-I",
                            str(inc / "linux"), "-o", str(self.native),
                            str(APP / "native" / "lognative.c")], check=True)

    def make(self, label, config):
        where = self.work / label
        shutil.rmtree(where, ignore_errors=True)
        where.mkdir()
        if self.wine:
            text = "mainclass logflood.Flood\n" + qlxtest.avian_config() + config + "\n"
            exe = qlxtest.wrap(qlxtest.STUB_WIN, self.jar, text, where / "app.exe")
        else:
            text = f"mainclass logflood.Flood\njvmdll {qlxtest.LIBJVM}\n{config}\n"
            exe = qlxtest.wrap(qlxtest.STUB_LINUX, self.jar, text, where / "app")
            info = exe.stat()
            # The program's instance table outlives it; removed at the end.
            TABLES.append(Path(f"/dev/shm/qlx-{os.geteuid()}-exe-{info.st_dev}-{info.st_ino}"))
        return exe

    def command(self, exe, *args):
        native = qlxtest.wine_path(self.native) if self.wine else str(self.native)
        base = ["wine", str(exe)] if self.wine else [str(exe)]
        return base + ["/test", "a", *map(str, args[:1]), "native", native, *map(str, args[1:])]

    def env(self):
        return qlxtest.wine_env() if self.wine else dict(os.environ)

    def timed(self, exe, count):
        for log in exe.parent.glob("app.log*"):
            log.unlink()
        start = time.perf_counter()
        subprocess.run(self.command(exe, count), env=self.env(), cwd=exe.parent, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600)
        elapsed = time.perf_counter() - start
        written = sum(p.stat().st_size for p in exe.parent.glob("app.log*"))
        return elapsed, written


def throughput(platform, rounds, count):
    results = {}
    configs = {"plain file": "stdout app.log",
               "rotated": "stdout app.log\nlogrotate 4M\nlogkeep 100"}
    exes = {label: platform.make(label.replace(" ", "-"), config)
            for label, config in configs.items()}
    samples = {label: [] for label in configs}
    for _ in range(rounds):
        for label, exe in exes.items():  # interleaved, so drift hits both alike
            empty, _ = platform.timed(exe, 0)
            full, written = platform.timed(exe, count)
            # A run with lines that is not clearly longer than one without
            # measured only the noise of the start: left out.
            if full - empty > 0.1:
                samples[label].append((written / (1 << 20)) / (full - empty))
    for label in configs:
        results[label] = statistics.median(samples[label] or [float("nan")])
        print(f"  {label:<11} {results[label]:8.1f} MB/s  (runs: "
              + ", ".join(f"{v:.1f}" for v in samples[label]) + ")")
    print(f"  ratio rotated / plain: {results['rotated'] / results['plain file']:.2f}")


def pipe_floor(work):
    exe = qlxtest.compile_windows_helper(ROOT / "bench" / "wine_pipe_cost.c", work)
    out = qlxtest.run_wine(exe, qlxtest.wine_path(work), 20000, timeout=300).stdout
    print("  Wine itself, WriteFile per line (no launcher): " + out.decode().strip())


def cpu_ticks(pid, thread_name=None):
    """utime + stime of a process, or of its thread called `thread_name`."""
    total = 0
    for task in Path(f"/proc/{pid}/task").iterdir():
        if thread_name and (task / "comm").read_text().strip() != thread_name:
            continue
        fields = (task / "stat").read_text().rsplit(")", 1)[1].split()
        total += int(fields[11]) + int(fields[12])
    return total


def find_pid(popen, exe):
    """The process that runs `exe` (under Wine, not the starter)."""
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        for proc in Path("/proc").iterdir():
            if not proc.name.isdigit():
                continue
            try:
                cmdline = (proc / "cmdline").read_bytes()
            except OSError:
                continue
            if exe.name.encode() in cmdline and str(exe.parent).replace("/", "\\").encode() \
                    in cmdline.replace(b"/", b"\\"):
                return int(proc.name)
        if not platform_is_wine(exe):
            return popen.pid
        time.sleep(0.1)
    return popen.pid


def platform_is_wine(exe):
    return exe.suffix == ".exe"


def idle(platform):
    configs = {"plain file": "stdout app.log", "rotated": "stdout app.log\nlogrotate 1M"}
    for label, config in configs.items():
        exe = platform.make("idle-" + label.replace(" ", "-"), config)
        p = subprocess.Popen(platform.command(exe, 10, "idle", 10000), env=platform.env(),
                             cwd=exe.parent, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(2.5)  # past the start and the ten lines
        pid = find_pid(p, exe)
        name = None if platform.wine or label == "plain file" else "qlx-logpump"
        before = cpu_ticks(pid, name)
        time.sleep(7)
        spent = (cpu_ticks(pid, name) - before) * 1000 // TICK
        p.wait(timeout=60)
        what = "process" if name is None else "draining thread"
        print(f"  {label:<11} {what} CPU over 7 s idle: {spent} ms")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--skip-wine", action="store_true")
    parser.add_argument("--skip-linux", action="store_true")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="qlx-logbench-") as tmp:
        work = Path(tmp)
        plans = [] if args.skip_linux else [("Linux, HotSpot", False, 400000)]
        if not args.skip_wine:
            qlxtest.start_wine_session(*qlxtest.AVIAN_SUITE_FILES)
            # Enough lines that their time stands out of the start's noise.
            plans.append(("Wine, Avian", True, 100000))
        try:
            for name, wine, count in plans:
                where = work / ("wine" if wine else "linux")
                where.mkdir()
                platform = Platform(name, where, wine)
                print(f"{name}: {count} lines of 48 bytes")
                throughput(platform, args.rounds, count)
                if wine:
                    pipe_floor(where)
                idle(platform)
        finally:
            if not args.skip_wine:
                qlxtest.stop_wineserver()
            for table in TABLES:
                table.unlink(missing_ok=True)


if __name__ == "__main__":
    main()
