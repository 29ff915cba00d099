"""Fixtures of the Wine suite for rotated logs: a real Java program on
Avian writing numbered lines from Java and from a native library."""
import subprocess
from pathlib import Path

import pytest

import qlxtest

HERE = Path(__file__).resolve().parent
APP = qlxtest.ROOT / "tests" / "apps" / "logflood"


@pytest.fixture(scope="session", autouse=True)
def wine_prefix():
    qlxtest.start_wine_session(*qlxtest.AVIAN_SUITE_FILES)
    yield
    qlxtest.stop_wineserver()


@pytest.fixture(scope="session")
def flood(tmp_path_factory):
    """(jar, native DLL) of tests/apps/logflood, for Avian under Wine."""
    where = tmp_path_factory.mktemp("flood")
    jar = qlxtest.avian_app_jar("logflood", where / "flood.jar")
    dll = where / "lognative.dll"
    subprocess.run(
        ["x86_64-w64-mingw32-gcc", "-shared", "-O2", "-I", str(qlxtest.JDK / "include"),
         "-I", str(qlxtest.ROOT / "cmake" / "jni_win"), "-o", str(dll),
         str(APP / "native" / "lognative.c")], check=True)
    return jar, dll


@pytest.fixture(scope="session")
def holdopen(tmp_path_factory):
    return qlxtest.compile_windows_helper(HERE / "holdopen.c", tmp_path_factory.mktemp("hold"))


@pytest.fixture(scope="session")
def holdmutex(tmp_path_factory):
    return qlxtest.compile_windows_helper(HERE / "holdmutex.c", tmp_path_factory.mktemp("mutex"),
                                          libs=("advapi32",))
