"""Fixtures of the Wine suite for the instances subsystem: real Java
instances on Avian, and a helper that writes into a table as a crashed or
hostile process could."""
from pathlib import Path

import pytest

import qlxtest
from instances_support import InstanceProgram

HERE = Path(__file__).resolve().parent


@pytest.fixture(scope="session", autouse=True)
def wine_prefix():
    qlxtest.start_wine_session(*qlxtest.AVIAN_SUITE_FILES)
    yield
    qlxtest.stop_wineserver()


@pytest.fixture(scope="session")
def tablepoke(tmp_path_factory):
    return qlxtest.compile_windows_helper(HERE / "tablepoke.c", tmp_path_factory.mktemp("poke"),
                                          libs=("advapi32",))


@pytest.fixture(scope="session")
def instances_jar(tmp_path_factory):
    out = tmp_path_factory.mktemp("instances") / "instances.jar"
    return qlxtest.avian_app_jar("instances", out)


@pytest.fixture
def program(tmp_path, instances_jar):
    """program(mode, name="inst", appid="", directory=None) -> InstanceProgram."""
    made = []

    def make(mode, name="inst", appid="", directory=None):
        config = ("mainclass inst.InstanceApp\n" + qlxtest.avian_config() +
                  f"singleinstance {mode}\nproperty inst.lifetime=60000\n"
                  + (f"appid {appid}\n" if appid else ""))
        where = Path(directory or tmp_path)
        where.mkdir(parents=True, exist_ok=True)
        exe = qlxtest.wrap(qlxtest.STUB_WIN, instances_jar, config, where / f"{name}.exe",
                           "--support")
        p = InstanceProgram(exe, wine=True)
        made.append(p)
        return p
    yield make
    for p in made:
        p.stop_all()


@pytest.fixture(scope="session")
def hostile_streams(tmp_path_factory):
    """The streams a hostile process sends, written by the host's JVM: a
    gadget whose readObject creates the marker file, and a nested-set bomb."""
    import subprocess
    out = tmp_path_factory.mktemp("streams")
    jar = qlxtest.compile_java(qlxtest.ROOT / "tests" / "apps" / "instances", out / "host.jar",
                               classpath=qlxtest.SUPPORT_JAR)
    marker = out / "gadget-ran"
    for args in (("gadget", out / "gadget.bin", qlxtest.wine_path(marker)),
                 ("bomb", out / "bomb.bin")):
        subprocess.run([str(qlxtest.JAVA), "-cp", str(jar), "inst.Streams", *map(str, args)],
                       check=True, timeout=60)
    return {"gadget": out / "gadget.bin", "bomb": out / "bomb.bin", "marker": marker}
