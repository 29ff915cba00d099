"""Fixtures of the Wine suite for runtime discovery, VM loading and the
console run: wrapped programs built from the Windows stub, copies of the
stand-in jvm.dll placed where a test wants a runtime, registry entries that
are removed again, and runs whose call log is read back."""
import pytest

import qlxtest
from wine_vm_support import DOUBLES, App, Keys, Registry


@pytest.fixture(scope="session", autouse=True)
def wine_prefix():
    qlxtest.start_wine_session((qlxtest.STUB_WIN, "Windows launcher stub"),
                               (qlxtest.QLXWRAP, "qlxwrap"),
                               (DOUBLES / "jvm.dll", "stand-in jvm.dll"))
    yield


@pytest.fixture(scope="session")
def empty_jar(tmp_path_factory):
    return qlxtest.make_jar(tmp_path_factory.mktemp("jar") / "app.jar")


@pytest.fixture
def make_app(tmp_path, empty_jar):
    """make_app(config, directory=None, name="app") -> App."""
    def make(config, directory=None, name="app"):
        return App(directory or tmp_path / "app", empty_jar, config, name)
    return make


@pytest.fixture
def registry(tmp_path):
    reg = Registry(tmp_path)
    yield reg
    reg.cleanup()


@pytest.fixture(scope="module")
def module_registry(tmp_path_factory):
    reg = Registry(tmp_path_factory.mktemp("registry"))
    yield reg
    reg.cleanup()


@pytest.fixture
def keys(tmp_path):
    """Registry keys in any hive and view, removed after the test."""
    written = Keys(tmp_path)
    yield written
    written.cleanup()
