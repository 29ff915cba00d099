"""Fixtures of the Wine suite for the service runtime and the event log: the
real Java VM (Avian) runs the test applications; the stand-in jvm.dll gives
exact call logs."""
from pathlib import Path

import pytest

import qlxtest
from service_support import DOUBLES, Service

HERE = Path(__file__).resolve().parent


@pytest.fixture(scope="session", autouse=True)
def wine_prefix():
    qlxtest.start_wine_session(*qlxtest.AVIAN_SUITE_FILES,
                               (DOUBLES / "jvm.dll", "stand-in jvm.dll"))
    yield
    qlxtest.stop_wineserver()


@pytest.fixture(scope="session")
def svcctl(tmp_path_factory):
    return qlxtest.compile_windows_helper(HERE / "svcctl.c", tmp_path_factory.mktemp("svcctl"))


def _avian_jar(tmp_path_factory, app):
    out = tmp_path_factory.mktemp(app) / f"{app}.jar"
    return qlxtest.avian_app_jar(app, out)


@pytest.fixture(scope="session")
def service_jar(tmp_path_factory):
    return _avian_jar(tmp_path_factory, "service")


@pytest.fixture(scope="session")
def eventlog_jar(tmp_path_factory):
    return _avian_jar(tmp_path_factory, "eventlog")


@pytest.fixture
def service(tmp_path, service_jar, svcctl):
    """service(config, install_args=(), double=False, wrap_options=(), install=True)
    -> a Service, installed unless install is false."""
    made = []

    def make(config="", install_args=(), double=False, wrap_options=(), install=True):
        s = Service(tmp_path / f"svc{len(made)}", service_jar, svcctl, config, double,
                    wrap_options)
        made.append(s)
        if install:
            s.install(*install_args)
        return s
    yield make
    for s in made:
        s.remove()
