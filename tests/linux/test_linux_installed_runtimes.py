"""Letter v on Linux: the homes under /usr/lib/jvm, the machine's OpenJDK
among them, and a fake newer home laid beside it (a release file and a
library that is not a JVM), chosen by version and limits as the trace says."""
import os
import shutil
from pathlib import Path

import pytest

import qlxtest
from linux_e2e import facts


def test_newest_home_within_the_limits(wrap_probe, java_version, tmp_path):
    if not os.access("/usr/lib/jvm", os.W_OK):
        pytest.skip("/usr/lib/jvm is not writable")
    fake = Path(f"/usr/lib/jvm/qlx-test-fake-{os.getpid()}")
    (fake / "lib" / "server").mkdir(parents=True)
    trace, major = tmp_path / "trace.txt", java_version.split(".")[0]
    try:
        (fake / "release").write_text('JAVA_VERSION="99.0.1"\n')
        shutil.copyfile(qlxtest.JDK / "lib" / "libjimage.so", fake / "lib" / "server" / "libjvm.so")
        # The fake is the newest: chosen, loaded, refused as no VM (message 2).
        r = wrap_probe("jre_order v", jvmdll=False, name="a").run(
            "/test", env={"_BROVANE_TRACE_": str(trace)})
        assert r.returncode == 2 and f"discovery v chosen {fake}/lib" in trace.read_text()
        assert "vm library has no JNI_CreateJavaVM" in trace.read_text()
        trace.unlink()
        r = wrap_probe(f"jre_order v\nmaxjre {major}", jvmdll=False, name="b").run(
            "/test", "prop:java.version", env={"_BROVANE_TRACE_": str(trace)})
    finally:
        shutil.rmtree(fake, ignore_errors=True)
    assert r.returncode == 0 and facts(r.stdout)["prop.java.version"].split(".")[0] == major
    assert f"{fake}: version outside the limits" in trace.read_text()
