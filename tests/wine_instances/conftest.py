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
    """program(mode, name="inst", appid="", directory=None, extra="") -> InstanceProgram."""
    made = []

    def make(mode, name="inst", appid="", directory=None, extra=""):
        config = ("mainclass inst.InstanceApp\n" + qlxtest.avian_config() +
                  f"singleinstance {mode}\nproperty inst.lifetime=60000\n"
                  + (f"appid {appid}\n" if appid else "") + extra)
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
    """The streams a hostile process sends: written by the host's JVM, a
    gadget whose readObject creates the marker file, a nested-set bomb and a
    nest of sets within the depth limit; built byte by byte, a 27-byte
    long[67108863], an ArrayList that claims 2^31-1 slots (the test VM makes
    them) and a class name that would rewrite the log."""
    import subprocess
    from instances_support import stream_array, stream_list_capacity, stream_named
    out = tmp_path_factory.mktemp("streams")
    jar = qlxtest.compile_java(qlxtest.ROOT / "tests" / "apps" / "instances", out / "host.jar",
                               classpath=qlxtest.SUPPORT_JAR)
    marker = out / "gadget-ran"
    for args in (("gadget", out / "gadget.bin", qlxtest.wine_path(marker)),
                 ("bomb", out / "bomb.bin"), ("nest", out / "nest.bin", 16, 4)):
        subprocess.run([str(qlxtest.JAVA), "-cp", str(jar), "inst.Streams", *map(str, args)],
                       check=True, timeout=60)
    built = {"longs": stream_array("J", 67108863), "capacity": stream_list_capacity(0x7FFFFFFF),
             "named": stream_named("evil\x1b[2J\nInstance message from 1 dropped: forged")}
    for name, data in built.items():
        (out / f"{name}.bin").write_bytes(data)
    streams = {name: out / f"{name}.bin" for name in ("gadget", "bomb", "nest", *built)}
    return {**streams, "marker": marker}
