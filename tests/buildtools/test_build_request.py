"""What the Maven and Gradle plugins share (BuildRequest): project versions
as the four numbers of a version resource, the configuration made from
settings, lines and a file in that order, and findings that name the place
each line came from."""
import subprocess
from pathlib import Path

import pytest

import qlxtest
from qlxtest import JDK, QLX_WRAP_JAR

HERE = Path(__file__).resolve().parent

pytestmark = pytest.mark.skipif(not QLX_WRAP_JAR.exists(), reason="qlx-wrap.jar not built (tools/build-all.sh)")


@pytest.fixture(scope="module")
def check(tmp_path_factory):
    classes = tmp_path_factory.mktemp("check")
    subprocess.run([str(JDK / "bin" / "javac"), "-d", str(classes), "-cp", str(QLX_WRAP_JAR),
                    str(HERE / "BuildRequestCheck.java")], check=True, timeout=120)

    def run(*args):
        out = subprocess.run([str(JDK / "bin" / "java"), "-cp", f"{QLX_WRAP_JAR}:{classes}", "BuildRequestCheck",
                              *map(str, args)], capture_output=True, text=True, timeout=120)
        assert out.returncode == 0, out.stderr
        return out.stdout.splitlines()
    return run


def test_project_versions_become_four_numbers(check):
    table = {"1.2.3-SNAPSHOT": "1.2.3.0", "2026.1": "2026.1.0.0", "1.2.3.4.5": "1.2.3.4", "v1": "0.0.0.0",
             "70000.1": "65535.1.0.0", "1_2-3": "1.2.3.0", "unspecified": "0.0.0.0", "10.0.0-rc.1": "10.0.0.0",
             "1234567": "65535.0.0.0", " 3.1 ": "3.1.0.0"}
    assert check("fourNumbers", *table) == [f"{k} -> {v}" for k, v in table.items()]


def test_findings_name_the_setting_or_file_line(check, tmp_path):
    jar = qlxtest.make_jar(tmp_path / "app.jar", {
        "META-INF/MANIFEST.MF": b"Manifest-Version: 1.0\r\nMain-Class: demo.FromManifest\r\n\r\n",
        "demo/FromManifest.class": b"\xca\xfe\xba\xbe"})
    cfg = tmp_path / "app.cfg"
    cfg.write_bytes(b"\xef\xbb\xbfstoptimout 30\r\nminjre 17\r\n")
    out = tmp_path / "app.exe"
    expect = "expected a Java version: 1 to 4 numbers joined by '.' or '_' (17, 1.8.0_392)"
    cases = [  # config line, minJre setting: what the run prints
        # mainclass (from the manifest), option, minjre 11, appid, then the file's two lines
        ("appid demo", "11", [
            f"warning warning: configuration line 5: unknown key 'stoptimout' is ignored (nearest known key: "
            f"'stoptimeout') [{cfg} line 1]",
            f"warning warning: configuration line 6: minjre is set again: only line 3 counts [{cfg} line 2]",
            "written"]),
        ("singleinstance maybe", None, [
            "failed 1 configuration line 3: singleinstance 'maybe' cannot be read: expected true, handover, custom "
            "or false [setting config]"]),
        ("appid demo", "1.x", [f"failed 1 configuration line 3: minjre '1.x' cannot be read: {expect} [setting minJre]"]),
        # no manifest line now: option, minjre 1.8, mainclass, then the file; the JAR lacks demo.Given
        ("mainclass demo.Given", "1.8", [
            "warning warning: configuration: mainclass demo.Given is in neither the JAR nor a merged archive "
            "(no demo/Given.class): the program will report that its main class cannot be found unless its class "
            "path brings it [setting config]",
            f"warning warning: configuration line 4: unknown key 'stoptimout' is ignored (nearest known key: "
            f"'stoptimeout') [{cfg} line 1]",
            f"warning warning: configuration line 5: minjre is set again: only line 2 counts [{cfg} line 2]",
            "written"]),
    ]
    for line, min_jre, printed in cases:
        assert check("wrap", jar, out, cfg, line, *([min_jre] if min_jre else [])) == printed, (line, min_jre)
    report = subprocess.run([str(qlxtest.QLXWRAP), "--inspect", str(out)], capture_output=True, text=True).stdout
    # A mainclass line of the settings' own keeps the manifest's out.
    assert "| mainclass demo.Given" in report and "FromManifest" not in report, report
