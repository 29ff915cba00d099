"""Fixtures of the Wine suite for the system tray: a real tray application
on the Avian VM, and trayctl, which plays the shell to its hidden window."""
from pathlib import Path

import pytest

import qlxtest

HERE = Path(__file__).resolve().parent


@pytest.fixture(scope="session", autouse=True)
def wine_prefix():
    qlxtest.start_wine_session((qlxtest.STUB_WIN, "Windows launcher stub"),
                               (qlxtest.QLXWRAP, "qlxwrap"),
                               (qlxtest.SUPPORT_JAR, "qlx-support.jar"),
                               (qlxtest.AVIAN / "jvm.dll", "Avian jvm.dll (shared/avian)"))
    yield
    qlxtest.stop_wineserver()


@pytest.fixture(scope="session")
def trayctl(tmp_path_factory):
    return qlxtest.compile_windows_helper(HERE / "trayctl.c", tmp_path_factory.mktemp("trayctl"))


@pytest.fixture(scope="session")
def tray_jar(tmp_path_factory):
    out = tmp_path_factory.mktemp("tray") / "tray.jar"
    return qlxtest.compile_java(qlxtest.ROOT / "tests" / "apps" / "tray", out,
                                classpath=qlxtest.SUPPORT_JAR,
                                bootclasspath=qlxtest.AVIAN / "classpath.jar")
