"""The consumer projects of the build plugin tests: the demo program with
commons-lang3 from the Debian repository, its build files as a user writes
them, and the checks that its wrapped programs really run."""
import shutil
import subprocess
import zipfile
from pathlib import Path

import qlxtest

DEMO = qlxtest.ROOT / "tests" / "apps" / "mavendemo" / "src"
VERSION = (qlxtest.ROOT / "VERSION").read_text().strip()
DEBIAN_REPO = "file:///usr/share/maven-repo"


def build_repository(folder, part):
    """tools/build-plugins.sh into `folder`: a Maven repository with qlx-wrap and the plugin."""
    folder = Path(folder)
    env = dict(qlxtest.os.environ, QLX_PLUGIN_WORK=str(folder / "work"), QLX_WRAP_JAR=str(qlxtest.QLX_WRAP_JAR))
    result = subprocess.run([str(qlxtest.ROOT / "tools" / "build-plugins.sh"), str(folder / "repo"), part],
                            capture_output=True, text=True, timeout=600, env=env)
    assert result.returncode == 0, result.stdout + result.stderr
    return folder / "repo"


def avian_lines():
    """Configuration lines that run the Windows program on the test VM, or none without one."""
    if not qlxtest.have_avian():
        return []
    return [line for line in qlxtest.avian_config().splitlines() if line]


def copy_sources(project):
    shutil.copytree(DEMO, Path(project) / "src")


def expected_line(args):
    return f"max 7, yes, (left,2), reversed {','.join(reversed(args))}"


def check_programs(exe, linux, args=("a", "b")):
    """Runs the Linux program on HotSpot and the Windows one under Wine on the test VM; both print the
    line that only the dependency's classes give."""
    run = qlxtest.run_native(linux, "/test", *args, env={"JAVA_HOME": str(qlxtest.JDK)})
    assert run.returncode == 0, run.stdout + run.stderr
    out = run.stdout.decode()
    assert expected_line(args) in out and "vm OpenJDK" in out, out
    if not qlxtest.have_avian():
        return "no Windows test VM"
    qlxtest.start_wine_session()
    win = qlxtest.run_wine(exe, "/test", *args, cwd=Path(exe).parent, timeout=120)
    assert win.returncode == 0, win.stdout + win.stderr
    assert expected_line(args) in win.stdout.decode(), win.stdout
    return "ran under Wine"


def inspect(exe):
    result = subprocess.run([str(qlxtest.QLXWRAP), "--inspect", str(exe)], capture_output=True, text=True)
    assert result.returncode == 0, result.stdout + result.stderr
    return result.stdout


def archive_names(path):
    with zipfile.ZipFile(path) as z:
        return set(z.namelist())
