#!/usr/bin/env python3
"""Service cycles: a real Java service (tests/apps/service on the test VM)
started and stopped again and again under Wine's service manager, with the
program's own commands, the stop sent at a random point of each cycle:

- starting: /start runs in the background; /stop follows 0 to 1 s after the
  manager shows the service starting (before it reports running);
- running:  /stop right after /start returned;
- paused:   /start, /pause, then /stop;
- slowstop: the cycle's onStop takes 1.5 s, and a second /stop arrives
  while it runs.

It counts what must never happen (goal: 0 for each):
- failed controls: a command that ended with a code its moment does not
  explain (see EXPECTED);
- hangs: a command that did not end within 90 s, or a service not stopped
  60 s after the cycle's stop;
- overlaps: two processes of the service alive at once (a watcher scans the
  processes every 50 ms for the service's image path);
- lost and doubled lines: each run writes "cN line K" every 50 ms to its
  stdout log and "cN end M" (M lines written) from its shutdown hook; every
  line 0..M-1 must be there once and the end line once. A stop that came
  while the service was starting may end it before main registered its
  hook (the record then has no "hooked cN"): such a run writes no line at
  all. The launcher's own lines in the error log must say once per cycle
  that the service started and that it ended with exit code 0.

usage: bench/service_cycles.py [--cycles 200] [--seed S] [--keep]
The long form is run by hand; tests/wine_service/test_wine_service_cycles.py
runs a short one.
"""
import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import uuid
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))
import qlxtest  # noqa: E402

KINDS = ("starting", "running", "paused", "slowstop")
COMMAND_BOUND = 90
STOPPED_BOUND = 60
# The exit codes a command may end with at each moment (modulo 256, as a
# Unix parent sees them).
EXPECTED = {
    # A /start that sees the stop before the service ran reports that it
    # stopped while starting (289).
    "start-racing": {0, 289 % 256},
    "start": {0},
    "pause": {0},
    "stop": {0},
    # The first stop may be over by the time the second one asks.
    "second-stop": {0, 286 % 256},
}


class Counts(dict):
    NAMES = ("cycles", "failed controls", "hangs", "overlaps", "lost lines", "doubled lines")

    def __init__(self):
        super().__init__((name, 0) for name in self.NAMES)
        self.notes = []

    def failures(self):
        return {k: v for k, v in self.items() if k != "cycles" and v}


class ProcessWatch(threading.Thread):
    """Counts the moments two processes of the service run at once: a
    Wine process's command line is its Windows one, and the service's is
    its image path alone (the commands carry a switch after it)."""

    def __init__(self, exe_name):
        super().__init__(daemon=True)
        self.exe_name = exe_name.lower()
        self.stop_flag = threading.Event()
        self.overlaps = 0
        self.most = 0

    def service_processes(self):
        found = 0
        for entry in os.scandir("/proc"):
            if not entry.name.isdigit():
                continue
            try:
                with open(f"/proc/{entry.name}/cmdline", "rb") as f:
                    line = f.read().replace(b"\0", b" ").decode(errors="replace").lower()
            except OSError:
                continue
            at = line.find(self.exe_name)
            if at >= 0 and not line[at + len(self.exe_name):].strip(' "'):
                found += 1
        return found

    def run(self):
        before = 0
        while not self.stop_flag.is_set():
            now = self.service_processes()
            self.most = max(self.most, now)
            if now > 1 and before <= 1:
                self.overlaps += 1
            before = now
            time.sleep(0.05)


class CycleService:
    def __init__(self, work, jar, svcctl):
        self.dir = Path(work)
        self.dir.mkdir(parents=True, exist_ok=True)
        tag = uuid.uuid4().hex[:8]
        self.name = f"QlxCycles{tag}"
        self.svcctl = svcctl
        config = ("mainclass svc.ServiceApp\n" + qlxtest.avian_config() +
                  f"property svc.record={qlxtest.wine_path(self.dir / 'record.txt')}\n"
                  "property svc.beat=50\nproperty svc.handler=true\n"
                  "property svc.canPause=true\nproperty svc.pauseAnswer=true\n"
                  # Running is reported once the handler that can pause is
                  # in place, as a service should: the fallback's three
                  # seconds could come first on a busy machine.
                  "property svc.report=4\n"
                  "stdout out.log\nstderr err.log\n")
        self.exe = qlxtest.wrap(qlxtest.STUB_WIN, jar, config, self.dir / f"cycles{tag}.exe",
                                "--service-name", self.name, "--support")

    def command(self, *args):
        """The exit code (None when it hung) and output of one of the program's commands."""
        try:
            r = qlxtest.run_wine(self.exe, *args, cwd=self.dir, timeout=COMMAND_BOUND)
        except subprocess.TimeoutExpired:
            return None, ""
        return r.returncode, (r.stdout + r.stderr).decode(errors="replace").strip()

    def background(self, *args):
        return subprocess.Popen(["wine", str(self.exe), *args], env=qlxtest.wine_env(),
                                cwd=self.dir, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)

    def state(self):
        out = qlxtest.run_wine(self.svcctl, "query", self.name, timeout=60).stdout.decode()
        m = re.search(r"state=(\d+)", out)
        return int(m.group(1)) if m else None

    def wait_state(self, wanted, bound):
        end = time.monotonic() + bound
        while time.monotonic() < end:
            if self.state() in wanted:
                return True
            time.sleep(0.1)
        return False


def waited(process):
    try:
        out, _ = process.communicate(timeout=COMMAND_BOUND)
        return process.returncode, out.decode(errors="replace").strip()
    except subprocess.TimeoutExpired:
        process.kill()
        process.communicate()
        return None, ""


def one_cycle(s, index, kind, rng, counts):
    tag = f"c{index}"
    params = [tag, "slowstop"] if kind == "slowstop" else [tag]
    results = []  # (what, code)
    if kind == "starting":
        start = s.background("/start", *params)
        if s.wait_state({2, 4}, 30):
            time.sleep(rng.uniform(0.0, 1.0))
        results.append(("stop", s.command("/stop")))
        results.append(("start-racing", waited(start)))
    else:
        results.append(("start", s.command("/start", *params)))
        if kind == "paused":
            results.append(("pause", s.command("/pause")))
        if kind == "slowstop":
            first = s.background("/stop")
            time.sleep(rng.uniform(0.6, 1.2))  # the first stop is in onStop by now
            results.append(("second-stop", s.command("/stop")))
            results.append(("stop", waited(first)))
        else:
            results.append(("stop", s.command("/stop")))
    for what, (code, output) in results:
        if code is None:
            counts["hangs"] += 1
            counts.notes.append(f"{tag} {kind}: {what} hung")
        elif code not in EXPECTED[what]:
            counts["failed controls"] += 1
            counts.notes.append(f"{tag} {kind}: {what} ended with {code}: {output}")
    if not s.wait_state({1}, STOPPED_BOUND):
        counts["hangs"] += 1
        counts.notes.append(f"{tag} {kind}: not stopped {STOPPED_BOUND} s after the stop")
        s.command("/stop")
        s.wait_state({1}, STOPPED_BOUND)


def count_lines(s, cycles, counts):
    out = (s.dir / "out.log").read_text(errors="replace") if (s.dir / "out.log").exists() else ""
    seen, ends = {}, {}
    for line in out.splitlines():
        m = re.fullmatch(r"(c\d+) line (\d+)", line.strip())
        if m:
            seen.setdefault(m.group(1), []).append(int(m.group(2)))
            continue
        m = re.fullmatch(r"(c\d+) end (\d+)", line.strip())
        if m:
            ends.setdefault(m.group(1), []).append(int(m.group(2)))
    record = s.dir / "record.txt"
    hooked = set(line.split()[1] for line in
                 (record.read_text().splitlines() if record.exists() else [])
                 if line.startswith("hooked "))
    for index in range(cycles):
        tag = f"c{index}"
        lines, end = seen.get(tag, []), ends.get(tag, [])
        if tag not in hooked:
            counts["doubled lines"] += len(lines) + len(end)  # none can have been written
            if lines or end:
                counts.notes.append(f"{tag}: lines from a run that never began")
            continue
        if not end:
            counts["lost lines"] += 1
            counts.notes.append(f"{tag}: no end line ({len(lines)} lines)")
            written = max(lines) + 1 if lines else 0
        else:
            counts["doubled lines"] += len(end) - 1
            written = end[0]
        missing = set(range(written)) - set(lines)
        counts["lost lines"] += len(missing)
        counts["doubled lines"] += len(lines) - len(set(lines))
        if missing:
            counts.notes.append(f"{tag}: {len(missing)} of {written} lines missing")
    err = (s.dir / "err.log").read_text(errors="replace") if (s.dir / "err.log").exists() else ""
    for what in ("starting:", "ended, exit code 0."):
        found = len(re.findall(re.escape(f"qlx: Service '{s.name}' {what}"), err))
        counts["lost lines"] += max(0, cycles - found)
        counts["doubled lines"] += max(0, found - cycles)
        if found != cycles:
            counts.notes.append(f"launcher line '{what}' {found} times in {cycles} cycles")


def run_cycles(cycles, seed, work, jar, svcctl, report=print, kinds=KINDS):
    """Runs the cycles in a live Wine session; returns the Counts."""
    rng = random.Random(seed)
    counts = Counts()
    s = CycleService(work, jar, svcctl)
    if s.command("/install")[0] != 0:
        raise RuntimeError("the cycle service could not be installed")
    watch = ProcessWatch(s.exe.name)
    watch.start()
    began = time.monotonic()
    chosen = {kind: 0 for kind in kinds}
    try:
        for index in range(cycles):
            kind = rng.choice(kinds)
            chosen[kind] += 1
            one_cycle(s, index, kind, rng, counts)
            counts["cycles"] += 1
            if report and (index + 1) % 10 == 0:
                report(f"  {index + 1} cycles, {time.monotonic() - began:.0f} s")
    finally:
        watch.stop_flag.set()
        watch.join()
        s.command("/stop")
        s.command("/uninstall")
    counts["overlaps"] = watch.overlaps
    count_lines(s, counts["cycles"], counts)
    counts.kinds = chosen
    counts.seconds = time.monotonic() - began
    return counts


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cycles", type=int, default=200)
    parser.add_argument("--seed", type=int, default=int(time.time()))
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    args = parser.parse_args()
    if qlxtest.AVIAN_FOUND is None:
        sys.exit(f"{qlxtest.NO_AVIAN}: {qlxtest.HOW_AVIAN}")
    work = Path(tempfile.mkdtemp(prefix="qlx-cycles-"))
    qlxtest.ensure_wineprefix()
    subprocess.run(["wine", "cmd", "/c", "exit"], env=qlxtest.wine_env(), timeout=180,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        jar = qlxtest.avian_app_jar("service", work / "service.jar")
        svcctl = qlxtest.compile_windows_helper(ROOT / "tests" / "wine_service" / "svcctl.c", work)
        print(f"service cycles: {args.cycles}, seed {args.seed}, work {work}")
        counts = run_cycles(args.cycles, args.seed, work / "service", jar, svcctl)
    finally:
        qlxtest.stop_wineserver()
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
    print(f"cycles by stop point: " + ", ".join(f"{k} {v}" for k, v in counts.kinds.items()))
    print(f"time: {counts.seconds:.0f} s, {counts.seconds / max(1, counts['cycles']):.1f} s a cycle")
    for name in Counts.NAMES:
        print(f"{name:16} {counts[name]}")
    for note in counts.notes[:40]:
        print("  " + note)
    sys.exit(1 if counts.failures() else 0)


if __name__ == "__main__":
    main()
