"""Fixtures of the Wine suite for the launcher core: start-up, redirection,
integrity, single instance, wildcards and the service command line."""
import subprocess
from pathlib import Path

import pytest

import qlxtest
from core_support import DOUBLES, App


def _require(path, what):
    if not Path(path).exists():
        pytest.fail(f"{what} is missing: {path} (build the host and Windows trees first)")


@pytest.fixture(scope="session", autouse=True)
def wine_prefix():
    _require(qlxtest.STUB_WIN, "Windows launcher stub")
    _require(qlxtest.QLXWRAP, "qlxwrap")
    _require(DOUBLES / "jvm.dll", "stand-in jvm.dll")
    qlxtest.ensure_wineprefix()
    # The first program of a fresh server starts Wine's own background
    # processes, which inherit the caller's standard streams and outlive it:
    # start them here, detached from any pipe a test reads to its end.
    subprocess.run(["wine", "cmd", "/c", "exit"], env=qlxtest.wine_env(), timeout=180,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    yield
    qlxtest.stop_wineserver()


@pytest.fixture(scope="session")
def empty_jar(tmp_path_factory):
    return qlxtest.make_jar(tmp_path_factory.mktemp("jar") / "app.jar")


@pytest.fixture
def make_app(tmp_path, empty_jar):
    """make_app(config, *wrap_options, name="app", directory=None, jvm="jvm.dll") -> App."""
    def make(config, *options, name="app", directory=None, jvm="jvm.dll"):
        return App(directory or tmp_path / "app", empty_jar, config, name, options, jvm)
    return make
