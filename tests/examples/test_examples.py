"""The worked examples under examples/: each build script makes its Windows
program (checked with qlxwrap --inspect) and its Linux twin; the Linux
programs run on HotSpot, and the single-instance tool's handover also runs
under Wine on Avian, with the Avian lines in an external configuration."""
import os
import subprocess
import time

import pytest

import qlxtest
from qlxtest import QLXWRAP, STUB_LINUX, STUB_WIN, SUPPORT_JAR

EXAMPLES = qlxtest.ROOT / "examples"
NAMES = {"service": "TickService", "single-instance": "Opener", "tray": "TrayApp"}

pytestmark = pytest.mark.skipif(
    not all(p.exists() for p in (QLXWRAP, STUB_WIN, STUB_LINUX, SUPPORT_JAR)),
    reason="generator, launchers or support classes not built")


@pytest.fixture(scope="module")
def built(tmp_path_factory):
    """{(example, "win" | "linux"): program path}, made by the examples' scripts."""
    dist = tmp_path_factory.mktemp("dist")
    for name, target in [("qlxwrap", QLXWRAP), ("qlx.exe", STUB_WIN), ("qlx", STUB_LINUX),
                         ("qlx-support.jar", SUPPORT_JAR)]:
        (dist / name).symlink_to(target)
    programs = {}
    for example, name in NAMES.items():
        for kind, stub, file_name in [("win", STUB_WIN, name + ".exe"), ("linux", STUB_LINUX, name)]:
            out = tmp_path_factory.mktemp(f"{example}-{kind}")
            env = dict(os.environ, QLX_DIST=str(dist), QLX_STUB=str(stub), QLX_OUT=str(out),
                       QLX_NAME=file_name, PATH=f"{qlxtest.JDK / 'bin'}:{os.environ['PATH']}")
            result = subprocess.run(["bash", str(EXAMPLES / example / "build.sh")], env=env,
                                    capture_output=True, text=True, timeout=180)
            assert result.returncode == 0, (example, kind, result.stderr)
            programs[example, kind] = out / file_name
    return programs


def test_windows_examples_carry_their_identity(built):
    for example, name in NAMES.items():
        result = subprocess.run([str(QLXWRAP), "--inspect", str(built[example, "win"])],
                                capture_output=True, text=True, timeout=60)
        assert result.returncode == 0, result.stdout
        for expected in ["digest:             intact", f"  OriginalFilename: {name}.exe",
                         "icon sizes:         16x16 32x32", "manifest:           present"]:
            assert expected in result.stdout, (example, result.stdout)
    assert "service name:       TickService" in subprocess.run(
        [str(QLXWRAP), "--inspect", str(built["service", "win"])], capture_output=True,
        text=True).stdout


def test_linux_examples_run(built):
    env = {"JAVA_HOME": str(qlxtest.JDK)}
    service = built["service", "linux"]
    result = qlxtest.run_native(service, "/test", "2", env=env, cwd=service.parent)
    assert result.returncode == 0, result.stderr
    log = (service.parent / "tick-service.log").read_text().splitlines()
    assert log == ["started as a console program", "tick 1", "tick 2", "counted 2"]
    tray = qlxtest.run_native(built["tray", "linux"], "/test", "--once", env=env)
    assert (tray.returncode, tray.stdout) == (0, b"icon shown\nicon removed\n"), tray.stderr


def handover(command, cwd, env, runner):
    """Starts the first instance, hands two files and then --quit over to it."""
    first_out = cwd / "first.txt"
    with open(first_out, "wb") as out:
        first = subprocess.Popen([*command, "/test", "a.txt"], stdout=out, stderr=subprocess.STDOUT,
                                 cwd=cwd, env=env)
    deadline = time.time() + 60
    while b"ready" not in first_out.read_bytes() and time.time() < deadline:
        time.sleep(0.2)
    second = runner("b.txt", "c d.txt")
    quit_ = runner("--quit")
    first.wait(timeout=60)
    return second, quit_, first_out.read_text().splitlines()


def test_single_instance_tool_hands_its_arguments_over(built):
    linux = built["single-instance", "linux"]
    env = dict(os.environ, JAVA_HOME=str(qlxtest.JDK))
    second, quit_, lines = handover([str(linux)], linux.parent, env,
                                    lambda *a: qlxtest.run_native(linux, *a, env=env))
    assert (second.returncode, second.stdout) == (13, b"opened 2 file(s)")
    assert (quit_.returncode, quit_.stdout) == (13, b"first instance ends")
    assert lines[1:] == ["open a.txt", "open b.txt", "open c d.txt", "bye"]

    qlxtest.start_wine_session((qlxtest.AVIAN / "jvm.dll", "Avian jvm.dll"))
    exe = built["single-instance", "win"]
    (exe.parent / "Opener.exe.cfg").write_text(qlxtest.avian_config())
    second, quit_, lines = handover(["wine", str(exe)], exe.parent, qlxtest.wine_env(),
                                    lambda *a: qlxtest.run_wine(exe, *a, cwd=exe.parent))
    assert (second.returncode, second.stdout) == (13, b"opened 2 file(s)"), second
    assert (quit_.returncode, quit_.stdout) == (13, b"first instance ends"), quit_
    assert [line for line in lines[1:] if line.strip()] == ["open a.txt", "open b.txt", "open c d.txt", "bye"]
