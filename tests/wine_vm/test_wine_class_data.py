"""The class-data archive under Wine. With the stand-in VM in a home that
says HotSpot 17: the options ahead of the application's, the archive in
%LOCALAPPDATA%\\qlx\\classdata, moved into place from the exit hook (System.exit)
or after DestroyJavaVM, and used by the next run. With Avian: nothing is
added to a runtime without a HotSpot release file, and the options a HotSpot
home would get do not break a run either."""
import subprocess
from pathlib import Path, PureWindowsPath

import pytest

import qlxtest
from wine_vm_support import place_double, win


@pytest.fixture(scope="module")
def local_app_data():
    """%LOCALAPPDATA% as a program in the prefix sees it, and its Linux path."""
    r = subprocess.run(["wine", "cmd", "/c", "echo", "%LOCALAPPDATA%"], env=qlxtest.wine_env(),
                       capture_output=True, timeout=120)
    windows = r.stdout.decode("utf-8", "replace").strip()
    assert windows[1:3] == ":\\", windows
    r = subprocess.run(["winepath", "-u", windows], env=qlxtest.wine_env(), capture_output=True,
                       timeout=120)
    return windows, Path(r.stdout.decode().strip())


def hotspot_home(root):
    """A runtime home that claims HotSpot 17; returns where its VM library goes."""
    server = Path(root) / "bin" / "server"
    server.mkdir(parents=True, exist_ok=True)
    (server / "classes.jsa").write_bytes(b"")
    (Path(root) / "release").write_text('JAVA_VERSION="17.0.15"\n')
    return server / "jvm.dll"


@pytest.fixture
def program_files(local_app_data):
    """Removes what the test's programs leave in the user's cache."""
    tags = []
    yield tags
    folder = local_app_data[1] / "qlx" / "classdata"
    for tag in tags:
        for path in folder.glob(tag + "-*"):
            path.chmod(0o644)
            path.unlink()


@pytest.mark.parametrize("script, code, when", [
    ("exit 3", 3, "(exit hook)"),
    (None, 0, "(after DestroyJavaVM)"),
])
def test_archive_options_cache_and_move(make_app, tmp_path, local_app_data, program_files,
                                        script, code, when):
    dll = place_double(hotspot_home(tmp_path / "rt"))
    app = make_app(f"mainclass app.Main\njvmdll {win(dll)}\noption -Dconfigured=1\n")
    trace = tmp_path / "trace.txt"
    env = {"_BROVANE_TRACE_": win(trace)}

    first = app.run("/test", env=env, script=script)
    assert first.returncode == code, first.explain()
    folder = local_app_data[0] + "\\qlx\\classdata\\"
    dump = first.options[2]
    assert first.options[:2] == ["-Xlog:disable", "-Xlog:all=warning:stderr"]
    assert dump.startswith("-XX:ArchiveClassesAtExit=" + folder) and dump.endswith(".tmp")
    assert first.options[3] == "-Dconfigured=1"
    archive = PureWindowsPath(dump.split("=", 1)[1].rsplit(".", 2)[0])
    program_files.append(archive.name.rsplit("-", 1)[0])
    # The VM wrote the archive, then the launcher moved it.
    log = first.log
    if script:
        assert log.index("archive written " + dump.split("=", 1)[1]) < log.index("exit hook 3")
    text = trace.read_text()
    assert f"classdata moved into place {archive} {when}" in text
    cached = local_app_data[1] / "qlx" / "classdata"
    assert sorted(p.name for p in cached.glob(program_files[-1] + "-*")) == [archive.name]

    second = app.run("/test", env=env, script=script)
    assert second.returncode == code, second.explain()
    assert second.options[:3] == ["-Xlog:disable", "-Xlog:all=warning:stderr",
                                  f"-XX:SharedArchiveFile={archive}"]
    assert not any(line.startswith("archive written") for line in second.log)
    assert second.stdout == first.stdout


@pytest.fixture(scope="module")
def avian_jar(tmp_path_factory):
    return qlxtest.avian_app_jar("hello", tmp_path_factory.mktemp("avian") / "hello.jar")


def test_avian_runs_unchanged(tmp_path, avian_jar):
    outputs = []
    for name, dll, added in (("shipped", qlxtest.AVIAN / "jvm.dll", False),
                             ("claimed", hotspot_home(tmp_path / "rt"), True)):
        if added:
            dll.write_bytes((qlxtest.AVIAN / "jvm.dll").read_bytes())
        config = (f"mainclass sample.Hello\njvmdll {win(dll)}\njre_order c\n"
                  f"option -Davian.bootstrap={win(dll)}\noption -Djava.version=1.8.0_avian\n")
        (tmp_path / name).mkdir()
        exe = qlxtest.wrap(qlxtest.STUB_WIN, avian_jar, config, tmp_path / name / "hello.exe")
        trace = tmp_path / f"{name}.txt"
        r = qlxtest.run_wine(exe, "/test", "a", env={"_BROVANE_TRACE_": win(trace)}, timeout=120)
        text = trace.read_text()
        assert r.returncode == 0, text
        outputs.append(r.stdout.replace(name.encode(), b"NAME"))
        if added:
            # Avian ignores the options and writes no archive: nothing is moved.
            assert "vm option -XX:ArchiveClassesAtExit=" in text
            assert "classdata no archive written" in text
        else:
            assert "classdata off: no release file" in text
            assert "vm option -Xlog" not in text
    assert outputs[0] == outputs[1] and b"Hello from a wrapped Java application." in outputs[0]
