#!/usr/bin/env python3
"""Cost of one tray notification into Java under Wine (Avian VM).

A wrapped tray application runs under Xvfb; trayctl sends its hidden window
N messages with SendMessage, which returns once the window procedure has
finished, so each round trip includes all the work of the window thread:
  baseline   WM_NULL: the cross-process message alone (DefWindowProc)
  no icon    1124 for an icon that does not exist: attach, method lookup,
             table lookup, detach; no Java call
  into Java  1124 (icon 1, WM_MOUSEMOVE): attach, method lookup, table
             lookup, the call of OnMouseClick (which counts it), detach
The rows alternate for several passes after a warm-up; each row prints the
median of its passes' means and the difference to the baseline. Wine is
slower than Windows: compare the rows with each other only.

usage: xvfb-run -a bench/tray_bench.py [--count N] [--passes P]
Not part of the tests: it only prints figures.
"""
import argparse
import re
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))
import qlxtest  # noqa: E402

ROWS = (("baseline (WM_NULL)", "0", "0", "0"), ("no icon (1124, id 99)", "1124", "99", "0x200"),
        ("into Java (1124, id 1)", "1124", "1", "0x200"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--count", type=int, default=1000)
    parser.add_argument("--passes", type=int, default=5)
    args = parser.parse_args()
    qlxtest.start_wine_session()  # a persistent server, stopped at the end
    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        jar = qlxtest.compile_java(ROOT / "tests" / "apps" / "tray", tmp / "tray.jar",
                                   classpath=qlxtest.SUPPORT_JAR,
                                   bootclasspath=qlxtest.AVIAN / "classpath.jar")
        ctl = qlxtest.compile_windows_helper(ROOT / "tests" / "wine_tray" / "trayctl.c", tmp)
        record = tmp / "record.txt"
        exe = qlxtest.wrap(qlxtest.STUB_WIN, jar, "mainclass tr.TrayApp\n" + qlxtest.avian_config()
                           + f"property tray.record={qlxtest.wine_path(record)}\n"
                           "property tray.quiet=true\n", tmp / "tray.exe", "--support")
        app = subprocess.Popen(["wine", str(exe), "/test"], env=qlxtest.wine_env(), cwd=tmp,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
        try:
            while not (record.exists() and "ready" in record.read_text()):
                time.sleep(0.1)
            actions = ["w", "20000"]
            for _, message, w, l in ROWS * (1 + args.passes):  # the first pass warms up
                actions += ["b", str(args.count), message, w, l]
            out = qlxtest.run_wine(ctl, *actions, timeout=600).stdout.decode()
            qlxtest.run_wine(ctl, "c", "50007")
            app.wait(timeout=60)
        finally:
            if app.poll() is None:
                app.kill()
        micros = [int(m) for m in re.findall(r"sent \d+ in (\d+) us", out)][len(ROWS):]
        per = [statistics.median(micros[i::len(ROWS)]) / args.count for i in range(len(ROWS))]
        wine = qlxtest.run_wine("--version").stdout.decode().strip()
        print(f"{args.passes} passes of {args.count} messages per row, {wine}")
        for (name, *_), cost in zip(ROWS, per):
            print(f"  {name:24} {cost:8.1f} us/message   {cost - per[0]:+8.1f} us over baseline")
        print("  Java saw:", ", ".join(line for line in record.read_text().splitlines()
                                       if line.startswith("moves")))
    qlxtest.stop_wineserver()


if __name__ == "__main__":
    main()
