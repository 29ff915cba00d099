#!/usr/bin/env python3
"""Kills: a program that writes rotated logs and sends instance messages is
killed at a random moment (SIGKILL on Linux; under Wine the process that
runs the .exe, which Wine ends as TerminateProcess does) and started again
at once, N times; then one run that ends by itself.

Counts, each with the goal 0:
- failed starts: a run that ended by itself before it was killed, or a last
  run that did not end in order;
- blocked or slow starts: a run whose first line took more than 3 times the
  median of the runs' own start times and 2 s more than it (or never came,
  though the kill was later than that);
- stale locks: a rotation lock still held after its holder was killed
  (Linux: the lock file can be taken at once), or a "Cannot rotate" line;
- instance tables that failed a start: a run without instance services, or
  a message to itself that got no reply;
- lines split or doubled across all the log files.
Linux runs on HotSpot with its class-data archive on (its cache in a folder
of the soak's own), Wine on the test VM.

usage: bench/kills_soak.py [--kills N] [--wine-kills N] [--seed S] [--skip-wine] [--skip-linux]
The tests run a short form (tests/linux/test_linux_kills.py, tests/wine_logrotate/test_wine_kills.py).
"""
import argparse
import os
import random
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))
import qlxtest  # noqa: E402

APP = ROOT / "tests" / "apps" / "soak"
LINE = re.compile(r"^r(\d+) (?:start|noinstances|noreply \d+|(\d+) (line|reply) \.{16})$")
CONFIG = "mainclass soak.Soak\nsingleinstance custom\nstdout app.log\nlogrotate 64K\nlogkeep 9999\n"


class Program:
    """The wrapped soak program for one platform, in its own folder."""

    def __init__(self, work, wine):
        self.wine = wine
        self.dir = work / ("wine" if wine else "linux")
        shutil.rmtree(self.dir, ignore_errors=True)
        self.dir.mkdir(parents=True)
        if wine:
            jar = qlxtest.avian_app_jar("soak", self.dir / "soak.jar")
            self.exe = qlxtest.wrap(qlxtest.STUB_WIN, jar, CONFIG + qlxtest.avian_config(),
                                    self.dir / "app.exe", "--support")
            self.env = qlxtest.wine_env()
        else:
            jar = qlxtest.compile_java(APP, self.dir / "soak.jar", classpath=qlxtest.SUPPORT_JAR)
            self.exe = qlxtest.wrap(qlxtest.STUB_LINUX, jar,
                                    CONFIG + f"jvmdll {qlxtest.LIBJVM}\n", self.dir / "app",
                                    "--support")
            self.env = dict(os.environ, XDG_CACHE_HOME=str(self.dir / "cache"))
            info = self.exe.stat()
            self.table = Path(f"/dev/shm/qlx-{os.geteuid()}-exe-{info.st_dev}-{info.st_ino}")
        self.log = self.dir / "app.log"

    def start(self, run, count):
        command = (["wine"] if self.wine else []) + [str(self.exe), "/test", str(run), str(count)]
        return subprocess.Popen(command, cwd=self.dir, env=self.env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)

    def files(self):
        """The log's files, oldest first."""
        numbered = [p for p in self.dir.glob("app.log.*") if p.name[8:].isdigit()]
        return sorted(numbered, key=lambda p: -int(p.name[8:])) + [self.log]

    def started(self, run):
        """Whether run's first line has reached the log (the newest files suffice)."""
        # Ended by a line feed, or by carriage returns first (the test VM's text mode).
        marks = (b"r%d start\n" % run, b"r%d start\r" % run)
        for f in self.files()[-3:]:
            data = f.read_bytes() if f.exists() else b""
            if any(mark in data for mark in marks):
                return True
        return False

    def lock_free(self):
        if self.wine:
            return True
        lock = self.dir / "app.log.lock"
        return not lock.exists() or subprocess.run(
            ["flock", "-n", str(lock), "true"]).returncode == 0

    def warnings(self):
        error_log = Path(str(self.exe) + ".stderr.log")
        files = [p for p in self.dir.glob(error_log.name + "*")]
        return sum(p.read_text(errors="replace").count("Cannot rotate") for p in files)

    def cleanup(self):
        if not self.wine:
            self.table.unlink(missing_ok=True)


def lines_checked(program):
    """(lines, split, doubled) over every log file."""
    seen, split, doubled, total = set(), 0, 0, 0
    for f in program.files():
        data = f.read_bytes().decode(errors="replace")
        if data and not data.endswith("\n"):
            split += 1
        for line in data.split("\n")[:-1]:
            total += 1
            if not LINE.match(line.rstrip("\r")):
                split += 1
            elif line in seen:
                doubled += 1
            seen.add(line)
    return total, split, doubled


def soak(program, kills, seed, max_delay_s):
    rng = random.Random(seed)
    counts = {"failed starts": 0, "blocked or slow starts": 0, "stale locks": 0,
              "instance tables that failed a start": 0, "lines split": 0, "lines doubled": 0}
    start_times, never_started = [], []
    for run in range(kills):
        delay = rng.uniform(0, max_delay_s)
        began = time.monotonic()
        process = program.start(run, 10**9)
        first_line = None
        while time.monotonic() - began < delay:
            if process.poll() is not None:
                break
            if first_line is None and program.started(run):
                first_line = time.monotonic() - began
            time.sleep(0.02)
        if process.poll() is not None:
            counts["failed starts"] += 1
        process.send_signal(signal.SIGKILL)
        process.wait()
        if first_line is None and program.started(run):
            first_line = delay  # came just before the kill
        if first_line is not None:
            start_times.append(first_line)
        else:
            never_started.append(delay)
        if not program.lock_free():
            counts["stale locks"] += 1
    # The last run ends by itself: it must start, message and end in order.
    last = program.start(kills, 3000)
    try:
        code = last.wait(timeout=180)
    except subprocess.TimeoutExpired:
        last.kill()
        code = None
    if code != 0:
        counts["failed starts"] += 1
    baseline = statistics.median(start_times) if start_times else 0
    # A start that waits on a stale table or lock waits seconds; a loaded
    # machine alone does not triple a start and add two seconds.
    slow = max(3 * baseline, baseline + 2)
    counts["blocked or slow starts"] = (sum(1 for t in start_times if t > slow) +
                                        sum(1 for d in never_started if d > slow))
    counts["stale locks"] += program.warnings()
    text = "\n".join(f.read_text(errors="replace") for f in program.files())
    counts["instance tables that failed a start"] = text.count("noinstances") + text.count("noreply")
    total, counts["lines split"], counts["lines doubled"] = lines_checked(program)
    if f"r{kills} 2999 line" not in text:
        counts["failed starts"] += 1
    figures = {"runs": kills + 1, "started before the kill": len(start_times),
               "median start s": round(baseline, 3), "lines": total}
    return counts, figures


def report(name, counts, figures):
    print(f"{name}: " + ", ".join(f"{k} {v}" for k, v in figures.items()))
    for key, value in counts.items():
        print(f"  {key:<38} {value}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kills", type=int, default=200)
    parser.add_argument("--wine-kills", type=int, default=200)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--skip-wine", action="store_true")
    parser.add_argument("--skip-linux", action="store_true")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="qlx-kills-") as tmp:
        work = Path(tmp)
        if not args.skip_linux:
            program = Program(work, wine=False)
            try:
                report("Linux, HotSpot", *soak(program, args.kills, args.seed, 2.0))
            finally:
                program.cleanup()
        if not args.skip_wine:
            qlxtest.start_wine_session(*qlxtest.AVIAN_SUITE_FILES)
            try:
                report("Wine, test VM", *soak(Program(work, wine=True), args.wine_kills,
                                              args.seed, 3.0))
            finally:
                qlxtest.stop_wineserver()


if __name__ == "__main__":
    main()
