"""Fixtures of the Wine suite for the system tray: a real tray application
on the Avian VM, and trayctl, which plays the shell to its hidden window."""
from pathlib import Path

import pytest

import qlxtest

HERE = Path(__file__).resolve().parent


@pytest.fixture(scope="session", autouse=True)
def wine_prefix():
    qlxtest.start_wine_session(*qlxtest.AVIAN_SUITE_FILES)
    yield
    qlxtest.stop_wineserver()


@pytest.fixture(scope="session")
def trayctl(tmp_path_factory):
    return qlxtest.compile_windows_helper(HERE / "trayctl.c", tmp_path_factory.mktemp("trayctl"))


@pytest.fixture(scope="session")
def tray_jar(tmp_path_factory):
    out = tmp_path_factory.mktemp("tray") / "tray.jar"
    return qlxtest.avian_app_jar("tray", out)
