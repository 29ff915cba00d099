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

usage: bench/startup_bench.py [--rounds N] [--build DIR]
Not part of the tests: it only prints figures.
"""
import argparse
import os
import random
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
HELLO = """public class Hello {
    public static void main(String[] args) {
        System.out.println("hello");
    }
}
"""


def timed(cmd, env, cwd, expect=0):
    start = time.perf_counter()
    r = subprocess.run(cmd, env=env, cwd=cwd, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    if r.returncode != expect:
        sys.exit(f"{cmd[0]} ended with {r.returncode}, expected {expect}")
    return elapsed


def wrap(qlxwrap, stub, jar, config, out):
    cfg = out.with_suffix(".cfg")
    cfg.write_text(config)
    subprocess.run([str(qlxwrap), "--stub", str(stub), "--jar", str(jar), "--config", str(cfg),
                    "--output", str(out)], check=True)
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=20)
    parser.add_argument("--build", type=Path,
                        default=Path(os.environ.get("QLX_BUILD_HOST", ROOT / "build" / "host")))
    args = parser.parse_args()
    stub, qlxwrap = args.build / "launcher" / "qlx", args.build / "tools" / "qlxwrap"
    for needed in (stub, qlxwrap):
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

        options = ["-Xshare:auto", "-XX:TieredStopAtLevel=1"]
        config = "mainclass Hello\n" + f"jvmdll {libjvm}\n" + \
            "".join(f"option {o}\n" for o in options)
        app = wrap(qlxwrap, stub, jar, config, work / "hello")
        env = dict(os.environ)
        env.pop("JAVA_TOOL_OPTIONS", None)
        java_cmd = [str(JDK / "bin" / "java"), *options, "-cp", str(jar), "Hello"]
        app_cmd = [str(app), "/test"]

        # Warm the page cache and the CDS archive once.
        timed(java_cmd, env, work)
        timed(app_cmd, env, work)
        launcher, java = [], []
        for i in range(args.rounds):
            pair = [(app_cmd, launcher), (java_cmd, java)]
            if i % 2:
                pair.reverse()
            for cmd, bucket in pair:
                bucket.append(timed(cmd, env, work))
        ml, mj = statistics.median(launcher), statistics.median(java)
        print(f"rounds: {args.rounds} (alternating), JVM {libjvm}, options {' '.join(options)}")
        print(f"java -cp hello.jar Hello : median {mj * 1000:7.1f} ms")
        print(f"wrapped hello /test      : median {ml * 1000:7.1f} ms")
        print(f"launcher / java          : {ml / mj:7.3f} ({(ml / mj - 1) * 100:+.1f} %)")

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
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
