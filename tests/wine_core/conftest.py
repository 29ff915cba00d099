"""Fixtures of the Wine suite for the launcher core: start-up, redirection,
integrity, single instance, wildcards and the service command line."""
import pytest

import qlxtest
from core_support import DOUBLES, App


@pytest.fixture(scope="session", autouse=True)
def wine_prefix():
    qlxtest.start_wine_session((qlxtest.STUB_WIN, "Windows launcher stub"),
                               (qlxtest.QLXWRAP, "qlxwrap"),
                               (DOUBLES / "jvm.dll", "stand-in jvm.dll"))
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
