#!/usr/bin/env python3
"""What an idle wrapped program costs: CPU time over a quiet window.

A Java program that writes a ready file and then waits forever runs, once
started and settled, for --seconds (60 by default) while nothing happens;
each row prints the CPU time (user + system) its process used in that
window, and under Wine also the Wine server's, beside the first row of its
platform (the VM's own threads: the baseline), and how often the program's
threads were woken (voluntary context switches: each wait that ends is
one). Goal: no row above its baseline beyond noise (the clock counts in
10 ms ticks; the Wine server also serves Wine's own background programs).

  Linux (HotSpot, JDK 17)
    java -cp                    plain java, the VM alone
    wrapped, plain              singleinstance off
    single-instance owner       singleinstance handover: receiver and
                                delivery threads waiting for a second launch
  Wine (Avian), under Xvfb
    wrapped, plain, no tray     singleinstance off, no display: the tray
                                window cannot be made, its thread ends
    single-instance owner       handover, with the tray window and its thread
    service                     the same program installed and started by
                                Wine's service manager (the dispatcher, the
                                status fallback), handover, tray window

With --before DIR, the single-instance and service rows run a second time
with the launcher of DIR (a source tree built as this one is:
build/host/launcher/qlx, build/win/launcher/qlx.exe), so one run shows the
older launcher's idle cost beside this one's.

usage: xvfb-run -a bench/idle_bench.py [--seconds N] [--settle S] [--skip-linux] [--skip-wine]
                                       [--before DIR]
Not part of the tests: it only prints figures.
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

IDLE = """import java.io.FileOutputStream;

public class Idle {
    public static void main(String[] args) throws Exception {
        FileOutputStream ready = new FileOutputStream(System.getProperty("idle.ready"));
        ready.write('r');
        ready.close();
        Object forever = new Object();
        synchronized (forever) {
            for (;;) forever.wait();
        }
    }
}
"""
TICK = os.sysconf("SC_CLK_TCK")


def cpu_ms(pid):
    """User + system time of a whole process (every thread), in ms."""
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) * 1000 / TICK


def wakeups(pid):
    """Voluntary context switches of every live thread of a process."""
    total = 0
    for task in Path(f"/proc/{pid}/task").iterdir():
        try:
            for line in (task / "status").read_text().splitlines():
                if line.startswith("voluntary_ctxt_switches:"):
                    total += int(line.split()[1])
        except OSError:
            continue
    return total


def processes():
    for entry in Path("/proc").iterdir():
        if entry.name.isdigit():
            try:
                yield int(entry.name), (entry / "cmdline").read_bytes().split(b"\0")
            except OSError:
                continue


def pid_running(name):
    """The process whose command line names the Windows program `name`."""
    for pid, argv in processes():
        if any(a.endswith(name.encode()) for a in argv[:2]):
            return pid
    return None


def our_wineserver():
    """The Wine server of this prefix (other prefixes have their own)."""
    want = f"WINEPREFIX={qlxtest.WINEPREFIX}".encode()
    for pid, argv in processes():
        if argv and b"wineserver" in argv[0].rsplit(b"/", 1)[-1]:
            try:
                if want in Path(f"/proc/{pid}/environ").read_bytes().split(b"\0"):
                    return pid
            except OSError:
                continue
    return None


def wait_file(path, timeout=120):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if path.exists():
            return True
        time.sleep(0.1)
    return False


def window(pids, seconds):
    """CPU ms each pid used over the next `seconds` (None where it ended or
    is unknown), then the wake-ups of the first one's threads."""
    before = [cpu_ms(p) if p else None for p in pids]
    woken = wakeups(pids[0]) if pids[0] else None
    time.sleep(seconds)
    after = []
    for p, b in zip(pids, before):
        try:
            after.append(cpu_ms(p) - b if p and b is not None else None)
        except OSError:
            after.append(None)
    try:
        after.append(wakeups(pids[0]) - woken if woken is not None else None)
    except OSError:
        after.append(None)
    return after


def split(figures):
    """(process ms, wine server ms or None, wake-ups) of a window's figures."""
    *used, woken = figures
    return used[0], used[1] if len(used) > 1 else None, woken


def show(platform, name, figures, baseline):
    process, server, woken = split(figures)
    cells = "".join(f" {'-' if u is None else f'{u:6.0f} ms':>10}" for u in (process, server))
    cells += f" {'-' if woken is None else woken:>8}"
    diff = ""
    if baseline is not None:
        base_process, base_server, base_woken = split(baseline)
        if process is not None and base_process is not None:
            diff = f"   {process - base_process:+5.0f} ms"
        if server is not None and base_server is not None:
            diff += f" / {server - base_server:+5.0f} ms"
        if woken is not None and base_woken is not None:
            diff += f", {woken - base_woken:+d} wake-ups"
    print(f"{platform:6} {name:40}{cells}{diff}", flush=True)


def run_linux(args, work, stubs):
    jar = qlxtest.compile_java(work / "src", work / "idle.jar")
    ready = work / "linux.ready"
    env = dict(os.environ)
    env.pop("JAVA_TOOL_OPTIONS", None)

    def measure(cmd):
        ready.unlink(missing_ok=True)
        child = subprocess.Popen(cmd, env=env, cwd=work, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            if not wait_file(ready):
                sys.exit(f"{cmd[0]} never became ready")
            time.sleep(args.settle)
            return window([child.pid], args.seconds)
        finally:
            child.kill()
            child.wait(timeout=30)

    java = [str(qlxtest.JAVA), f"-Didle.ready={ready}", "-cp", str(jar), "Idle"]
    baseline = measure(java)
    show("Linux", "java -cp (the VM alone)", baseline, None)
    for label, stub in stubs:
        for name, mode in (("wrapped, plain", "false"), ("single-instance owner", "handover")):
            if label and mode == "false":
                continue
            config = (f"mainclass Idle\njvmdll {qlxtest.LIBJVM}\nclassdata off\n"
                      f"singleinstance {mode}\nproperty idle.ready={ready}\n")
            exe = qlxtest.wrap(stub, jar, config, work / f"linux-{mode}{'-before' if label else ''}")
            try:
                show("Linux", name + label, measure([str(exe), "/test"]), baseline)
            finally:
                info = exe.stat()  # the instance table a killed instance leaves
                Path(f"/dev/shm/qlx-{os.geteuid()}-exe-{info.st_dev}-{info.st_ino}").unlink(
                    missing_ok=True)


def run_wine(args, work, stubs):
    if not os.environ.get("DISPLAY"):
        sys.exit("the Wine rows need a display: run under xvfb-run -a")
    qlxtest.start_wine_session(*qlxtest.AVIAN_SUITE_FILES)
    try:
        jar = qlxtest.compile_java(work / "src", work / "idle-avian.jar",
                                   bootclasspath=qlxtest.AVIAN / "classpath.jar")
        svcctl = qlxtest.compile_windows_helper(ROOT / "tests" / "wine_service" / "svcctl.c",
                                                work)
        server = our_wineserver()
        ready = work / "wine.ready"

        def wrapped(name, stub, mode, *options):
            config = ("mainclass Idle\n" + qlxtest.avian_config() + f"singleinstance {mode}\n"
                      f"property idle.ready={qlxtest.wine_path(ready)}\n")
            return qlxtest.wrap(stub, jar, config, work / f"{name}.exe", *options)

        def measure(exe, display=True):
            ready.unlink(missing_ok=True)
            env = qlxtest.wine_env(None if display else {"DISPLAY": ""})
            child = subprocess.Popen(["wine", str(exe), "/test"], env=env, cwd=work,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
            try:
                if not wait_file(ready):
                    sys.exit(f"{exe.name} never became ready")
                time.sleep(args.settle)
                return window([pid_running(exe.name), server], args.seconds)
            finally:
                child.kill()
                child.wait(timeout=30)
                subprocess.run(["wine", "taskkill", "/f", "/im", exe.name], env=qlxtest.wine_env(),
                               capture_output=True, timeout=60)

        def measure_service(exe, name):
            ready.unlink(missing_ok=True)
            out = qlxtest.run_wine(exe, "/install", cwd=work).stdout
            if b"installed successfully" not in out:
                sys.exit(f"{exe.name} /install: {out}")
            try:
                answer = qlxtest.run_wine(svcctl, "start", name, timeout=90).stdout.strip()
                if answer != b"started" or not wait_file(ready):
                    sys.exit(f"{name} did not start: {answer}")
                time.sleep(args.settle)
                return window([pid_running(exe.name), server], args.seconds)
            finally:
                qlxtest.run_wine(svcctl, "control", name, "stop", timeout=90)
                qlxtest.run_wine("sc", "delete", name, timeout=60)

        baseline = measure(wrapped("plain", qlxtest.STUB_WIN, "false"), display=False)
        show("Wine", "wrapped, plain, no tray", baseline, None)
        for label, stub in stubs:
            tag = "before" if label else ""
            owner = wrapped(f"owner{tag}", stub, "handover")
            show("Wine", "single-instance owner" + label, measure(owner), baseline)
            name = f"QlxIdle{tag}{os.getpid()}"
            service = wrapped(f"service{tag}", stub, "handover", "--service-name", name)
            show("Wine", "service" + label, measure_service(service, name), baseline)
    finally:
        qlxtest.stop_wineserver()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--settle", type=float, default=5,
                        help="seconds between ready and the window (start-up work ends)")
    parser.add_argument("--skip-linux", action="store_true")
    parser.add_argument("--skip-wine", action="store_true")
    parser.add_argument("--before", type=Path)
    args = parser.parse_args()
    work = Path(tempfile.mkdtemp(prefix="qlx-idle-bench-"))
    try:
        (work / "src").mkdir()
        (work / "src" / "Idle.java").write_text(IDLE)
        print(f"idle for {args.seconds:.0f} s after {args.settle:.0f} s to settle: CPU time used"
              f" (user + system); difference to the platform's first row")
        print(f"{'':6} {'program':40} {'process':>10} {'wineserver':>10} {'wake-ups':>8}")
        if not args.skip_linux:
            stubs = [("", qlxtest.STUB_LINUX)]
            if args.before:
                stubs.append((" (before)", args.before / "build/host/launcher/qlx"))
            run_linux(args, work, stubs)
        if not args.skip_wine:
            stubs = [("", qlxtest.STUB_WIN)]
            if args.before:
                stubs.append((" (before)", args.before / "build/win/launcher/qlx.exe"))
            run_wine(args, work, stubs)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
