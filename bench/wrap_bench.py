#!/usr/bin/env python3
"""Wrap time and peak memory: qlx-wrap.jar beside qlxwrap.

One run of each generator per round on the same inputs (a JAR of
incompressible stored entries, the Windows stub, --support), the Java one
with its JVM start included, as a build runs it: wall time, peak resident
memory, and the ratio Java / native of each round; the figure is the
median of the rounds' own ratios (both tools run back to back in a round,
so machine load hits them alike). A second table wraps a 200 MB archive
in a 48 MB heap to show that the Java generator streams it.

usage: bench/wrap_bench.py [--megabytes N] [--rounds N] [--skip-large]
Not part of the tests: it only prints figures.
"""
import argparse
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))
import qlxtest  # noqa: E402

PROBE = ("import resource, subprocess, sys, time\n"
         "start = time.monotonic()\n"
         "code = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL).returncode\n"
         "print(code, time.monotonic() - start, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)\n")


def measured(command):
    """(seconds, peak KiB) of one run, in a fresh parent so the peak is this command's."""
    out = subprocess.run(["/usr/bin/python3", "-c", PROBE, *map(str, command)], capture_output=True, text=True,
                         check=True)
    code, seconds, kib = out.stdout.split()
    if int(code) != 0:
        raise SystemExit(f"failed ({code}): {command}")
    return float(seconds), int(kib)


def big_jar(path, megabytes):
    chunk = os.urandom(1 << 20)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as z:
        for n in range(max(1, megabytes // 10)):
            with z.open(f"data/blob{n:03}.bin", "w") as entry:
                for k in range(10):
                    entry.write(chunk[k:] + chunk[:k])
    return path


def commands(jar, cfg, folder, heap=None):
    heap = [f"-Xmx{heap}"] if heap else []
    java = [qlxtest.JDK / "bin" / "java", *heap, "-jar", qlxtest.QLX_WRAP_JAR, "--jar", jar, "--config", cfg,
            "-o", folder / "java" / "app.exe", "--support"]
    native = [qlxtest.QLXWRAP, "--stub", qlxtest.STUB_WIN, "--jar", jar, "--config", cfg,
              "-o", folder / "native" / "app.exe", "--support"]
    return java, native


def table(title, rows):
    print(f"\n{title}")
    print(f"{'run':<8}{'qlxwrap s':>11}{'qlx-wrap.jar s':>16}{'ratio':>8}{'qlxwrap MB':>12}{'jar MB':>9}")
    for i, (n_s, n_kib, j_s, j_kib) in enumerate(rows, 1):
        print(f"{i:<8}{n_s:>11.3f}{j_s:>16.3f}{j_s / n_s:>8.2f}{n_kib / 1024:>12.1f}{j_kib / 1024:>9.1f}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--megabytes", type=int, default=50)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--skip-large", action="store_true")
    args = parser.parse_args()
    for path in (qlxtest.QLXWRAP, qlxtest.QLX_WRAP_JAR, qlxtest.STUB_WIN):
        if not path.exists():
            raise SystemExit(f"{path} is missing: run tools/build-all.sh")
    with tempfile.TemporaryDirectory(prefix="qlx-wrap-bench-") as tmp:
        folder = Path(tmp)
        (folder / "java").mkdir()
        (folder / "native").mkdir()
        cfg = folder / "app.cfg"
        cfg.write_text("mainclass com.example.Main\noption -Xmx256m\n")
        jar = big_jar(folder / "app.jar", args.megabytes)
        java, native = commands(jar, cfg, folder)
        measured(native)  # page cache warm for both
        rows = []
        for _ in range(args.rounds):
            n_s, n_kib = measured(native)
            j_s, j_kib = measured(java)
            rows.append((n_s, n_kib, j_s, j_kib))
        same = (folder / "java" / "app.exe").read_bytes() == (folder / "native" / "app.exe").read_bytes()
        table(f"wrapping a {args.megabytes} MB archive (Windows stub, --support), one run per tool per round", rows)
        ratio = statistics.median(j / n for n, _, j, _ in rows)
        java_s = statistics.median(j for _, _, j, _ in rows)
        print(f"median ratio qlx-wrap.jar / qlxwrap: {ratio:.2f} (goal at most 1.5); "
              f"qlx-wrap.jar median {java_s:.2f} s (goal under 2 s); outputs identical: {same}")
        if not args.skip_large:
            (folder / "app.jar").unlink()
            jar = big_jar(folder / "large.jar", 200)
            java, native = commands(jar, cfg, folder, heap="48m")
            measured(native)
            n_s, n_kib = measured(native)
            j_s, j_kib = measured(java)
            table("wrapping a 200 MB archive, qlx-wrap.jar in a 48 MB heap", [(n_s, n_kib, j_s, j_kib)])


if __name__ == "__main__":
    main()
