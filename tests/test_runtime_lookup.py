"""The suite's rule for its optional runtimes, checked on the suite itself:
a test reaches the Windows test VM and Temurin 25 only through qlxtest's
helpers, which skip with the reason when the runtime is missing. A test
that spells their locations (or the variables that name them) would run
on without them in a plain clone and fail there instead of skipping."""
import re
import subprocess
import sys
from pathlib import Path

import pytest

import qlxtest

TESTS = Path(__file__).resolve().parent

# Ways to reach a runtime without the helpers: its folders, the variables
# that name them, and qlxtest's private lookup.
FORBIDDEN = [
    (re.compile(r"""shared["']?\s*[/)]?\s*(/\s*)?["']?avian"""), "the test VM's folder"),
    (re.compile(r"""["']build["']\s*/\s*["']avian|build/avian"""), "the test VM's folder"),
    (re.compile(r"QLX_AVIAN\b"), "the variable that names the test VM"),
    (re.compile(r"temurin-25|QLX_JDK25_HOME"), "Temurin 25's location"),
    (re.compile(r"\b(AVIAN_FOUND|_avian_candidates|_JDK25|find_avian)\b"), "qlxtest's own lookup"),
    (re.compile(r"pytest\.fail\(.*([Aa]vian|test VM|JDK ?25|[Tt]emurin)"),
     "a failure instead of the helpers' skip"),
]


def findings(text):
    """(line number, what) for every line that reaches a runtime by itself."""
    out = []
    for number, line in enumerate(text.splitlines(), 1):
        code = line.split("#", 1)[0]
        for pattern, what in FORBIDDEN:
            if pattern.search(code):
                out.append((number, what))
    return out


@pytest.mark.parametrize("line, caught", [
    ('dll = ROOT.parent / "shared" / "avian" / "jvm.dll"', True),
    ("cp = '../shared/avian/classpath.jar'", True),
    ('vm = Path(os.environ["QLX_AVIAN"])', True),
    ('home = Path("/usr/lib/jvm/temurin-25-jdk-amd64")', True),
    ('out = ROOT / "build" / "avian"', True),
    ("if qlxtest.AVIAN_FOUND is None:", True),
    ('    pytest.fail(f"Avian jvm.dll is missing: {qlxtest.AVIAN}")', True),
    # Through the helpers: each skips when its runtime is missing.
    ('dll = qlxtest.AVIAN / "jvm.dll"', False),
    ("home = qlxtest.jdk25_home()", False),
    ('jar = qlxtest.avian_app_jar("hello", out)', False),
    ("if not qlxtest.have_avian():", False),
    ('pytest.fail(f"{what} is missing: {path}")', False),
    ('pytest.fail(f"stand-in jvm.dll is missing: {double}")', False),  # a build output
    ("x = 1  # ../shared/avian is found by qlxtest", False),
])
def test_the_check_tells_a_helper_from_a_path_of_its_own(line, caught):
    assert bool(findings(line)) == caught


def test_no_test_reaches_a_runtime_without_the_helpers():
    found = []
    for source in sorted(TESTS.rglob("*.py")):
        if source.name in ("qlxtest.py", Path(__file__).name):
            continue
        for number, what in findings(source.read_text(encoding="utf-8")):
            found.append(f"{source.relative_to(TESTS)}:{number}: {what}")
    assert not found, ("use qlxtest.require_avian/avian_dir/AVIAN/have_avian or require_jdk25/jdk25_home/"
                       "JDK25 instead:\n" + "\n".join(found))


def test_a_missing_runtime_skips_what_reads_its_path(tmp_path):
    """Read through qlxtest, a missing runtime skips a test, a fixture and a
    whole module that reads the path while it is imported; under CI=true each
    fails instead."""
    (tmp_path / "conftest.py").write_text(
        f"import sys\nsys.path.insert(0, {str(TESTS)!r})\n"
        "import pytest, qlxtest\n"
        "@pytest.fixture\ndef vm():\n    return qlxtest.AVIAN / 'jvm.dll'\n")
    (tmp_path / "test_reads.py").write_text(
        "import qlxtest\n"
        "def test_attribute():\n    assert qlxtest.AVIAN.exists()\n"
        "def test_fixture(vm):\n    assert vm.exists()\n"
        "def test_suite_files():\n    assert qlxtest.AVIAN_SUITE_FILES\n"
        "def test_jdk25():\n    assert qlxtest.JDK25.exists()\n")
    (tmp_path / "test_module.py").write_text(
        "from qlxtest import AVIAN\ndef test_never():\n    assert False\n")
    env = {"QLX_AVIAN": str(tmp_path / "nonexistent"), "QLX_JDK25_HOME": str(tmp_path / "none"),
           "PATH": "/usr/bin:/bin"}

    def run(**extra):
        return subprocess.run([sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider",
                               "-rs", "--continue-on-collection-errors", str(tmp_path)],
                              capture_output=True, text=True,
                              env={**env, **extra}, cwd=tmp_path, timeout=120)

    skipped = run(CI="false")
    assert skipped.returncode == 0, skipped.stdout
    assert "5 skipped" in skipped.stdout and "error" not in skipped.stdout, skipped.stdout
    assert qlxtest.NO_AVIAN.split(" in ")[0] in skipped.stdout
    # Under CI: the three tests fail, the fixture and the module are errors.
    failed = run(CI="true")
    assert "3 failed, 2 errors" in failed.stdout, failed.stdout
