#!/usr/bin/env python3
"""Start-up cost of the Linux launcher on the machine's OpenJDK.

1. Launcher overhead: a wrapped hello-world (`app /test`) against
   `java -cp hello.jar Hello`, same libjvm and the same VM options, run
   alternately for N rounds; prints the median of each and their ratio
   (goal: at most 3 % slower).
2. Cost before the VM: the wrapped file with `jvmdll` naming a library that
   does not exist, so the launcher does all its start-up work (payload,
   configuration, integrity check of the whole file, redirection, discovery)
   and stops right before loading a VM. Measured for a small payload and for
   one of about 100 MB; the difference is the price of the payload size.
3. The class-data archive: real programs wrapped with `classdata` on (hello
   world, the H2 shell, Rhino, Jython; on JDK 17, which gets the dynamic
   archive, and, where installed, on Temurin 25, which gets the
   ahead-of-time cache) against plain `java -cp <jar> <main>` with the same
   arguments, alternately, once the archive is in place ("ratio"); against
   plain java with its own archive of the same kind ("vs own": a dynamic
   archive of its own on 17, a cache made with -XX:AOTCacheOutput on 25;
   goal: at most 1.0); and the first run's price beside a wrapped run
   without archive ("first run": the run that records; on 25 the cache is
   then assembled in the background, "assembly" says how long that took
   after the run had ended). Goals against plain java: H2 at most 0.4x on
   17 and on 25, hello and Rhino at most 1.0x, Jython at most 1.02x; H2's
   first run at most +0.5 s. Programs whose package is not installed
   (libh2-java, librhino-java, jython) are skipped with a note. Ratios are
   medians of the rounds' own ratios (each round runs the commands back to
   back, so a slow spell of a shared machine moves both); "cpu" is the same
   for user + system time, which such a machine disturbs far less than wall
   time. The load average is printed before and after.
   With --explain, one more column says where the time goes: "bare" is the
   wrapped program against bench/bare_vm_host running the same main with
   the very VM options and archive the launcher used (the launcher's own
   share: 1.00 means none).
4. With --before DIR (a source tree of an older launcher, built:
   build/host/launcher/qlx, build/win/launcher/qlx.exe), the overhead row
   runs the hello world wrapped with that launcher too, in the same rounds,
   and prints this launcher's time over the older one's (goal: at most 1).
5. With --wine, the same rows for the Windows stub under Wine on the test VM
   (Avian), beside the older stub of --before where given: the wrapped
   hello world, and the start before the VM for a small file and for one of
   about 100 MB (whose integrity check reads every byte). Run under
   xvfb-run -a, as the tray window needs a display.

usage: bench/startup_bench.py [--rounds N] [--archive-rounds N] [--only overhead|archive]
                              [--explain] [--build DIR] [--before DIR] [--wine]
Not part of the tests: it only prints figures.
"""
import argparse
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
JDK = Path(os.environ.get("QLX_JDK_HOME", "/usr/lib/jvm/java-17-openjdk-amd64"))
JDK25 = Path("/usr/lib/jvm/temurin-25-jdk-amd64")
# name, jar (or None: the hello world), main class, arguments, goal on 17, goal on 25
ARCHIVE_ROWS = [
    ("hello", None, "Hello", [], 1.0, 1.0),
    ("H2", Path("/usr/share/java/h2.jar"), "org.h2.tools.Shell",
     ["-url", "jdbc:h2:mem:x", "-sql", "select 1"], 0.4, 0.4),
    ("Rhino", Path("/usr/share/java/js.jar"), "org.mozilla.javascript.tools.shell.Main",
     ["-e", "print(6*7)"], 1.0, 1.0),
    ("Jython", Path("/usr/share/java/jython.jar"), "org.python.util.jython",
     ["-c", "print 6*7"], 1.02, 1.02),
]
# Jython would write a package cache into the user's home on its first run.
ARCHIVE_OPTIONS = {"Jython": ["-Dpython.cachedir.skip=true"]}
# The first run's price for H2 (seconds over a run without archive).
FIRST_RUN_GOAL = {"H2": 0.5}
HELLO = """public class Hello {
    public static void main(String[] args) {
        System.out.println("hello");
    }
}
"""


def timed_cpu(cmd, env, cwd, expect=0):
    """Wall and CPU (user + system) seconds of one run of cmd."""
    start = time.perf_counter()
    child = subprocess.Popen(cmd, env=env, cwd=cwd, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    elapsed = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if expect is not None and child.returncode != expect:
        sys.exit(f"{cmd[0]} ended with {child.returncode}, expected {expect}")
    return elapsed, usage.ru_utime + usage.ru_stime


def timed(cmd, env, cwd, expect=0):
    return timed_cpu(cmd, env, cwd, expect)[0]


def wrap(qlxwrap, stub, jar, config, out):
    # Not beside the program under its own name: it would read the file again at each start.
    cfg = out.with_name(out.name + "-source.cfg")
    cfg.write_text(config)
    subprocess.run([str(qlxwrap), "--stub", str(stub), "--jar", str(jar), "--config", str(cfg),
                    "--output", str(out)], check=True)
    return out


def alternate(commands, rounds, env, cwd):
    """Medians of commands run one after the other, the order turned every round."""
    times = [[] for _ in commands]
    for i in range(rounds):
        order = list(range(len(commands)))
        if i % 2:
            order.reverse()
        for k in order:
            times[k].append(commands[k]())
    return [statistics.median(t) for t in times]


def alternate_runs(commands, rounds):
    """Each round's (wall, cpu) of every command, the order turned every round."""
    runs = []
    for i in range(rounds):
        order = list(range(len(commands)))
        if i % 2:
            order.reverse()
        row = [None] * len(commands)
        for k in order:
            row[k] = commands[k]()
        runs.append(row)
    return runs


def paired_ratio(runs, a, b, part=0):
    """Median over the rounds of command a's time over command b's."""
    return statistics.median(r[a][part] / r[b][part] for r in runs)


def median_of(runs, k, part=0):
    return statistics.median(r[k][part] for r in runs)


def vm_options_of(cmd, env, cwd):
    """The VM options a wrapped program passes, read from its start-up trace."""
    trace = Path(cwd) / "vm-options.trace"
    trace.unlink(missing_ok=True)
    timed(cmd, dict(env, _BROVANE_TRACE_=str(trace)), cwd)
    marker = " vm option "
    options = [line.split(marker, 1)[1] for line in trace.read_text().splitlines()
               if marker in line]
    trace.unlink()
    return options


def assembly_running(folder):
    """True while an assembly of the cache writes into the folder (its log
    stays locked as long as it runs)."""
    import fcntl
    for log in Path(folder).glob("*.log"):
        try:
            with open(log, "rb") as f:
                fcntl.flock(f, fcntl.LOCK_SH | fcntl.LOCK_NB)
        except BlockingIOError:
            return True
        except FileNotFoundError:
            pass
    return False


def wait_assembled(folder, timeout=600):
    """Seconds until no assembly runs in the folder."""
    start = time.perf_counter()
    while assembly_running(folder):
        if time.perf_counter() - start > timeout:
            sys.exit(f"the cache's assembly in {folder} did not end within {timeout} s")
        time.sleep(0.05)
    return time.perf_counter() - start


def own_archive(java_cmd, feature, work, name, env):
    """Plain java's own archive of the kind the launcher uses on this
    runtime, and the options that map it."""
    if feature >= 24:
        own = work / f"java-{feature}-{name}.aot"
        made, use = f"-XX:AOTCacheOutput={own}", f"-XX:AOTCache={own}"
    else:
        own = work / f"java-{feature}-{name}.jsa"
        made, use = f"-XX:ArchiveClassesAtExit={own}", f"-XX:SharedArchiveFile={own}"
    subprocess.run([java_cmd[0], made, *java_cmd[1:]], env=env, cwd=work,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    return [java_cmd[0], use, *java_cmd[1:]]


def archive_rows(qlxwrap, stub, hello_jar, work, rounds, bare_host=None):
    homes = [Path("/usr/lib/jvm/java-17-openjdk-amd64"), JDK25]
    print(f"\nclass-data archive: {rounds} alternating rounds per row; times are medians,"
          f" ratios medians of each round's ratio; load average {load()}")
    explain = f" {'bare':>6}" if bare_host else ""
    print(f"{'JDK':4} {'program':7} {'java -cp':>10} {'wrapped':>10} {'ratio':>7} {'cpu':>6}"
          f" {'goal':>5} {'vs own':>7} {'first run':>10} {'assembly':>9} {'no archive':>10}"
          f"{explain}")
    env = dict(os.environ)
    for name in ("JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS", "JDK_JAVA_OPTIONS"):
        env.pop(name, None)
    for home in homes:
        libjvm = home / "lib" / "server" / "libjvm.so"
        if not libjvm.exists():
            print(f"     skipped: no runtime at {home}")
            continue
        feature = int((home / "release").read_text().split('JAVA_VERSION="', 1)[1].split(".")[0])
        for name, jar, main_class, arguments, goal17, goal25 in ARCHIVE_ROWS:
            jar = jar or hello_jar
            if not jar.exists():
                package = {"H2": "libh2-java", "Rhino": "librhino-java", "Jython": "jython"}[name]
                print(f"{feature:<4} {name:7} skipped: {jar} is not installed"
                      f" (apt-get install {package})")
                continue
            options = ARCHIVE_OPTIONS.get(name, [])
            base = f"mainclass {main_class}\njvmdll {libjvm}\n" + \
                "".join(f"option {o}\n" for o in options)
            cache = work / f"cache-{feature}-{name}"
            on = wrap(qlxwrap, stub, jar, base + f"classdata {cache}\n", work / f"{name}{feature}")
            off = wrap(qlxwrap, stub, jar, base + "classdata off\n", work / f"{name}{feature}off")
            java_cmd = [str(home / "bin" / "java"), *options, "-cp", str(jar), main_class,
                        *arguments]
            on_cmd, off_cmd = [str(on), "/test", *arguments], [str(off), "/test", *arguments]

            def output(cmd):
                # The H2 shell prints how long its query took.
                return re.sub(rb"\d+ ms", b"N ms",
                              subprocess.run(cmd, env=env, cwd=work, capture_output=True).stdout)

            assembly = []

            def first_run():
                shutil.rmtree(cache, ignore_errors=True)
                elapsed = timed(on_cmd, env, work)
                # Off the program's path, but not to be timed beside it.
                assembly.append(wait_assembled(cache))
                return elapsed
            fresh, plain = alternate([first_run, lambda: timed(off_cmd, env, work)],
                                     max(3, rounds // 3), env, work)
            # The run after the assembly puts the cache in place.
            if {output(c) for c in (java_cmd, off_cmd, on_cmd, on_cmd)} != {output(java_cmd)}:
                sys.exit(f"{name}: the wrapped program's output differs from java's")
            if not any(cache.glob("*.jsa")) and not any(cache.glob("*.aot")):
                sys.exit(f"{name}: no archive in {cache}: {sorted(os.listdir(cache))}")
            java_own_cmd = own_archive(java_cmd, feature, work, name, env)
            commands = [lambda: timed_cpu(on_cmd, env, work),
                        lambda: timed_cpu(java_cmd, env, work),
                        lambda: timed_cpu(off_cmd, env, work),
                        lambda: timed_cpu(java_own_cmd, env, work)]
            if bare_host:
                bare_cmd = [str(bare_host), str(libjvm), main_class,
                            *vm_options_of(on_cmd, env, work), "--", *arguments]
                commands.append(lambda: timed_cpu(bare_cmd, env, work))
            runs = alternate_runs(commands, rounds)
            ratio, cpu = paired_ratio(runs, 0, 1), paired_ratio(runs, 0, 1, part=1)
            versus_own = paired_ratio(runs, 0, 3)
            goal = goal17 if feature < 24 else goal25
            first = fresh - plain
            missed = [what for what, bad in (
                ("ratio", ratio > goal), ("vs own", versus_own > 1.0),
                ("first run", first > FIRST_RUN_GOAL.get(name, float("inf")))) if bad]
            verdict = "ok" if not missed else "MISSED " + ", ".join(missed)
            built = f"{statistics.median(assembly):8.1f}s" if feature >= 24 else f"{'-':>9}"
            more = f" {paired_ratio(runs, 0, 4):6.3f}" if bare_host else ""
            print(f"{feature:<4} {name:7} {median_of(runs, 1) * 1000:8.1f}ms"
                  f" {median_of(runs, 0) * 1000:8.1f}ms {ratio:7.3f} {cpu:6.3f} {goal:5.2f}"
                  f" {versus_own:7.3f} {first * 1000:+8.0f}ms {built}"
                  f" {paired_ratio(runs, 2, 1):10.3f}{more}  {verdict}")
    print(f"load average after: {load()}")


def load():
    return " ".join(f"{x:.1f}" for x in os.getloadavg()) + f" on {os.cpu_count()} CPUs"


def paired_rows(title, commands, rounds, env, cwd, expect=0):
    """Medians of commands run alternately, and each one's paired ratio to the first."""
    runs = alternate_runs([lambda c=c: timed_cpu(c, env, cwd, expect) for _, c in commands], rounds)
    print(title)
    for k, (name, _) in enumerate(commands):
        ratio = "" if k == 0 else f"   {paired_ratio(runs, k, 0):6.3f} of the first"
        print(f"  {name:34}: median {median_of(runs, k) * 1000:8.1f} ms{ratio}")


def wine_rows(qlxwrap, stubs, work, rounds):
    """The wrapped hello world and the start before the VM under Wine, per stub."""
    sys.path.insert(0, str(ROOT / "tests"))
    import qlxtest
    qlxtest.start_wine_session(*qlxtest.AVIAN_SUITE_FILES)
    try:
        src = work / "wine-src"
        src.mkdir()
        (src / "Hello.java").write_text(HELLO)
        jar = qlxtest.compile_java(src, work / "hello-avian.jar",
                                   bootclasspath=qlxtest.AVIAN / "classpath.jar")
        big_jar = work / "big-avian.jar"
        shutil.copy(jar, big_jar)
        with zipfile.ZipFile(big_jar, "a") as z:
            z.writestr(zipfile.ZipInfo("blob.bin"),
                       random.Random(1).randbytes(100 * 1024 * 1024),
                       compress_type=zipfile.ZIP_STORED)
        env = qlxtest.wine_env()
        hello, small, big = [], [], []
        for k, (name, stub) in enumerate(stubs):
            config = "mainclass Hello\n" + qlxtest.avian_config()
            missing = "mainclass Hello\njvmdll C:\\nonexistent\\jvm.dll\njre_order c\n"
            hello.append((name, ["wine", str(wrap(qlxwrap, stub, jar, config,
                                                  work / f"hello{k}.exe")), "/test"]))
            small.append((name, ["wine", str(wrap(qlxwrap, stub, jar, missing,
                                                  work / f"small{k}.exe")), "/test"]))
            big.append((name, ["wine", str(wrap(qlxwrap, stub, big_jar, missing,
                                                work / f"big{k}.exe")), "/test"]))
        for _, cmd in hello + big:  # the page cache and Wine's own start-up
            timed(cmd, env, work, expect=None)
        paired_rows(f"\nWine, test VM: wrapped hello /test, {rounds} alternating rounds",
                    hello, rounds, env, work)
        paired_rows("Wine: before the VM, small file", small, rounds, env, work, expect=1)
        size = Path(big[0][1][1]).stat().st_size / (1024 * 1024)
        paired_rows(f"Wine: before the VM, {size:.0f} MB file", big, rounds, env, work, expect=1)
    finally:
        qlxtest.stop_wineserver()


def qlxtest_stub():
    return Path(os.environ.get("QLX_BUILD_WIN", ROOT / "build" / "win")) / "launcher" / "qlx.exe"


def remove_instance_tables(work):
    """The shared objects the wrapped programs' instance tables leave, named
    after each program file's device and inode."""
    for path in work.iterdir():
        if path.is_file():
            info = path.stat()
            table = Path(f"/dev/shm/qlx-{os.geteuid()}-exe-{info.st_dev}-{info.st_ino}")
            table.unlink(missing_ok=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=20)
    parser.add_argument("--archive-rounds", type=int, default=10)
    parser.add_argument("--only", choices=["overhead", "archive"])
    parser.add_argument("--explain", action="store_true",
                        help="add the bare in-process host to the archive rows")
    parser.add_argument("--build", type=Path,
                        default=Path(os.environ.get("QLX_BUILD_HOST", ROOT / "build" / "host")))
    parser.add_argument("--before", type=Path,
                        help="an older launcher's built source tree, to compare with")
    parser.add_argument("--wine", action="store_true",
                        help="add the Windows stub's rows under Wine")
    args = parser.parse_args()
    stub, qlxwrap = args.build / "launcher" / "qlx", args.build / "tools" / "qlxwrap"
    bare_host = args.build / "bench" / "bare_vm_host" if args.explain else None
    for needed in (stub, qlxwrap) + ((bare_host,) if bare_host else ()):
        if not needed.exists():
            sys.exit(f"missing {needed}: build the host tree first")
    libjvm = JDK / "lib" / "server" / "libjvm.so"
    work = Path(tempfile.mkdtemp(prefix="qlx-bench-"))
    try:
        (work / "Hello.java").write_text(HELLO)
        subprocess.run([str(JDK / "bin" / "javac"), "--release", "8", "-d", str(work),
                        str(work / "Hello.java")], check=True)
        jar = work / "hello.jar"
        with zipfile.ZipFile(jar, "w") as z:
            z.write(work / "Hello.class", "Hello.class")
        big_jar = work / "big.jar"
        with zipfile.ZipFile(big_jar, "w") as z:
            z.write(work / "Hello.class", "Hello.class")
            rnd = random.Random(1)
            z.writestr(zipfile.ZipInfo("blob.bin"), rnd.randbytes(100 * 1024 * 1024),
                       compress_type=zipfile.ZIP_STORED)

        if args.only == "archive":
            archive_rows(qlxwrap, stub, jar, work, args.archive_rounds, bare_host)
            return
        options = ["-Xshare:auto", "-XX:TieredStopAtLevel=1"]
        # The launcher's own price, without the class-data archive's gain.
        config = "mainclass Hello\n" + f"jvmdll {libjvm}\n" + "classdata off\n" + \
            "".join(f"option {o}\n" for o in options)
        app = wrap(qlxwrap, stub, jar, config, work / "hello")
        env = dict(os.environ)
        env.pop("JAVA_TOOL_OPTIONS", None)
        java_cmd = [str(JDK / "bin" / "java"), *options, "-cp", str(jar), "Hello"]
        app_cmd = [str(app), "/test"]
        before_cmd = None
        if args.before:
            old = wrap(qlxwrap, args.before / "build/host/launcher/qlx", jar, config,
                       work / "hello-before")
            before_cmd = [str(old), "/test"]

        # Warm the page cache and the CDS archive once.
        timed(java_cmd, env, work)
        timed(app_cmd, env, work)
        if before_cmd:
            timed(before_cmd, env, work)
        launcher, java, before = [], [], []
        for i in range(args.rounds):
            pair = [(app_cmd, launcher), (java_cmd, java)] + \
                ([(before_cmd, before)] if before_cmd else [])
            if i % 2:
                pair.reverse()
            for cmd, bucket in pair:
                bucket.append(timed(cmd, env, work))
        ml, mj = statistics.median(launcher), statistics.median(java)
        print(f"rounds: {args.rounds} (alternating), JVM {libjvm}, options {' '.join(options)}")
        print(f"java -cp hello.jar Hello : median {mj * 1000:7.1f} ms")
        print(f"wrapped hello /test      : median {ml * 1000:7.1f} ms")
        paired = statistics.median(a / b for a, b in zip(launcher, java))
        print(f"launcher / java          : {paired:7.3f} ({(paired - 1) * 100:+.1f} %),"
              f" median of the rounds' ratios")
        if before_cmd:
            older = statistics.median(a / b for a, b in zip(launcher, before))
            print(f"wrapped, older launcher  : median {statistics.median(before) * 1000:7.1f} ms;"
                  f" this one / older {older:7.3f}, median of the rounds' ratios")

        # Only the configured library is asked for: the search must end
        # without a runtime whatever the machine has installed.
        missing = "jvmdll /nonexistent/libjvm.so\njre_order c\n"
        small = wrap(qlxwrap, stub, jar, "mainclass Hello\n" + missing, work / "small")
        big = wrap(qlxwrap, stub, big_jar, "mainclass Hello\n" + missing, work / "big")
        timed([str(big), "/test"], env, work, expect=1)  # page cache
        pre_small, pre_big = [], []
        for _ in range(args.rounds):
            pre_small.append(timed([str(small), "/test"], env, work, expect=1))
            pre_big.append(timed([str(big), "/test"], env, work, expect=1))
        ms, mb = statistics.median(pre_small), statistics.median(pre_big)
        size = big.stat().st_size / (1024 * 1024)
        print(f"before the VM, {small.stat().st_size / 1024:6.0f} KB file : median {ms * 1000:7.1f} ms")
        print(f"before the VM, {size:6.1f} MB file : median {mb * 1000:7.1f} ms")
        print(f"payload cost             : {(mb - ms) * 1000:7.1f} ms for {size:.0f} MB "
              f"({size / max(mb - ms, 1e-9):.0f} MB/s)")
        if args.wine:
            stubs = [("this stub", qlxtest_stub())]
            if args.before:
                stubs.append(("older stub", args.before / "build/win/launcher/qlx.exe"))
            wine_rows(qlxwrap, stubs, work, args.rounds)
        if args.only != "overhead":
            archive_rows(qlxwrap, stub, jar, work, args.archive_rounds, bare_host)
    finally:
        remove_instance_tables(work)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
