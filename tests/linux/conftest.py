"""Fixtures of the Linux end-to-end suite: the probe application compiled
against the support classes, and wrapping it with the Linux launcher stub."""
import subprocess
from pathlib import Path

import pytest

import qlxtest
from linux_e2e import Wrapped

APPS = qlxtest.ROOT / "tests" / "apps"


def _require(path, what):
    if not Path(path).exists():
        pytest.fail(f"{what} is missing: {path} (build the host tree first)")


@pytest.fixture(scope="session")
def probe_jar(tmp_path_factory):
    """probe.* compiled for Java 8 against qlx-support.jar."""
    _require(qlxtest.SUPPORT_JAR, "qlx-support.jar")
    out = tmp_path_factory.mktemp("probe") / "probe.jar"
    return qlxtest.compile_java(APPS / "probe", out, classpath=qlxtest.SUPPORT_JAR)


@pytest.fixture(scope="session")
def java_version():
    """java.version of the machine's runtime, as the launcher will read it."""
    out = subprocess.run([str(qlxtest.JAVA), "-XshowSettings:properties", "-version"],
                         capture_output=True, text=True).stderr
    for line in out.splitlines():
        if line.strip().startswith("java.version ="):
            return line.split("=", 1)[1].strip()
    pytest.fail("cannot read java.version of the machine's runtime")


@pytest.fixture
def wrap_probe(tmp_path, probe_jar):
    """wrap_probe(config_lines, name="app", main="probe.Probe", jvmdll=True, ...)."""
    _require(qlxtest.STUB_LINUX, "Linux launcher stub")
    _require(qlxtest.QLXWRAP, "qlxwrap")

    def make(config="", name="app", main="probe.Probe", jvmdll=True, directory=None,
             options=None, check_jni=True, classdata="off"):
        lines = []
        if main:
            lines.append(f"mainclass {main}")
        if jvmdll:
            lines.append(f"jvmdll {jvmdll if isinstance(jvmdll, (str, Path)) else qlxtest.LIBJVM}")
        if classdata:
            # The class-data archive's runs are its own suite's; elsewhere a
            # dump at every first run would only slow the suite down.
            lines.append(f"classdata {classdata}")
        if config:
            lines.append(config)
        if check_jni:
            # After the configured lines, so tests of option order see theirs first.
            lines.append("option -Xcheck:jni")
        text = "\n".join(lines) + "\n"
        where = Path(directory) if directory else tmp_path / name
        where.mkdir(parents=True, exist_ok=True)
        out = qlxtest.wrap(qlxtest.STUB_LINUX, probe_jar, text, where / name,
                           *(options if options is not None
                             else ["--merge", str(qlxtest.SUPPORT_JAR)]))
        return Wrapped(out)

    return make
