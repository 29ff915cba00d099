"""Letter v on Linux: the homes under /usr/lib/jvm, the machine's OpenJDK
among them, and a fake newer home (a release file and a library that is not
a JVM) laid beside it for the test. The trace says which was chosen and why."""
import os
import shutil
from pathlib import Path

import pytest

import qlxtest
from linux_e2e import facts

JVM_DIR = Path("/usr/lib/jvm")


@pytest.fixture
def fake_home():
    if not os.access(JVM_DIR, os.W_OK):
        pytest.skip(f"{JVM_DIR} is not writable")
    home = JVM_DIR / f"qlx-test-fake-{os.getpid()}"
    (home / "lib" / "server").mkdir(parents=True)
    try:
        (home / "release").write_text('JAVA_VERSION="99.0.1"\n')
        # A real shared library without JNI_CreateJavaVM.
        shutil.copyfile(qlxtest.JDK / "lib" / "libjimage.so", home / "lib" / "server" / "libjvm.so")
        yield home
    finally:
        shutil.rmtree(home, ignore_errors=True)


def trace_lines(path):
    return path.read_text().splitlines() if path.exists() else []


def test_newest_home_within_the_limits(wrap_probe, fake_home, java_version, tmp_path):
    trace = tmp_path / "trace.txt"
    unlimited = wrap_probe("jre_order v", jvmdll=False, name="unlimited")
    r = unlimited.run("/test", env={"_BROVANE_TRACE_": str(trace)})
    lines = trace_lines(trace)
    # The fake is the newest: chosen, loaded, and refused as no VM.
    assert r.returncode == 2, unlimited.log()
    assert any(f"discovery v chosen {fake_home}/lib/server/libjvm.so" in l for l in lines), lines
    assert any("vm library has no JNI_CreateJavaVM" in l for l in lines), lines

    trace.unlink()
    major = java_version.split(".")[0]
    limited = wrap_probe(f"jre_order v\nmaxjre {major}", jvmdll=False, name="limited")
    r = limited.run("/test", "prop:java.version", env={"_BROVANE_TRACE_": str(trace)})
    lines = trace_lines(trace)
    assert r.returncode == 0, limited.log()
    assert facts(r.stdout)["prop.java.version"].split(".")[0] == major
    assert any(f"{fake_home}: version outside the limits" in l for l in lines), lines
    assert any("vm created" in l for l in lines), lines
