"""Configuration mistakes that used to be taken as success, run for real on
HotSpot with the Linux stub: the README's example wrapped in one folder (its
source then lies where the program reads its external file), a JAR whose
manifest names the main class, and a variable that is not set."""
import subprocess
import zipfile

import qlxtest
from linux_e2e import Wrapped, facts


def qlxwrap(*args, cwd):
    return subprocess.run([str(qlxtest.QLXWRAP), *map(str, args)], capture_output=True,
                          text=True, cwd=cwd, timeout=60)


def with_manifest(jar, main_class):
    """The archive with a manifest that names its main class."""
    out = jar.parent / "with-manifest.jar"
    with zipfile.ZipFile(jar) as source, zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("META-INF/MANIFEST.MF",
                   f"Manifest-Version: 1.0\r\nMain-Class: {main_class}\r\n\r\n")
        for item in source.infolist():
            if item.filename != "META-INF/MANIFEST.MF":
                z.writestr(item, source.read(item))
    return out


def argv_of(result):
    got = facts(result.stdout)
    return [got[f"argv[{i}]"] for i in range(len([k for k in got if k.startswith("argv[")]))]


def test_the_readme_example_in_one_folder(tmp_path, probe_jar):
    """qlxwrap --config app.cfg -o app in one folder: the main class comes from
    the manifest (said once), the source left beside the program is named (a
    warning) and not applied a second time while it equals the embedded block,
    and applied in front of it once edited. --strict refuses the same run."""
    (tmp_path / "app.jar").write_bytes(with_manifest(probe_jar, "probe.Probe").read_bytes())
    cfg = tmp_path / "app.cfg"
    cfg.write_text(f"jvmdll {qlxtest.LIBJVM}\nclassdata off\nargv count 1\noption -Xcheck:jni\n")
    made = qlxwrap("--stub", qlxtest.STUB_LINUX, "--jar", "app.jar", "--config", "app.cfg",
                   "-o", "app", "--merge", qlxtest.SUPPORT_JAR, cwd=tmp_path)
    assert made.returncode == 0, made.stderr
    assert made.stderr.splitlines() == [
        "qlxwrap: note: no mainclass in the configuration: probe.Probe, the Main-Class of the "
        "JAR's manifest, is used",
        "qlxwrap: warning: the configuration file app.cfg lies where app looks for its external "
        "configuration: the program skips it only while its text equals the embedded block, "
        "and applies its lines again once it is edited; keep the source elsewhere or under "
        "another name"]
    app = Wrapped(tmp_path / "app")
    trace = tmp_path / "trace.txt"
    r = app.run("/test", "given", env={"_BROVANE_TRACE_": str(trace)})
    assert r.returncode == 0, app.log()
    assert argv_of(r) == ["count", "1", "given"]
    assert f"external file {cfg} (the embedded text again: not applied)" in trace.read_text()

    with cfg.open("a") as edited:
        edited.write("argv extra\n")
    r = app.run("/test")
    assert argv_of(r) == ["count", "1", "extra", "count", "1"]

    before = app.path.read_bytes()
    strict = qlxwrap("--stub", qlxtest.STUB_LINUX, "--jar", "app.jar", "--config", "app.cfg",
                     "-o", "app", "--merge", qlxtest.SUPPORT_JAR, "--strict", cwd=tmp_path)
    assert strict.returncode == 1 and app.path.read_bytes() == before
    assert strict.stderr.splitlines()[1].startswith(
        "qlxwrap: error (--strict): the configuration file app.cfg lies where app looks")
    # Elsewhere the same source draws no warning, and the taken main class is only a note.
    (tmp_path / "dist").mkdir()
    assert qlxwrap("--stub", qlxtest.STUB_LINUX, "--jar", "app.jar", "--config", "app.cfg",
                   "-o", "dist/app", "--strict", cwd=tmp_path).returncode == 0


def test_a_variable_that_is_not_set_is_named_once(wrap_probe, tmp_path):
    """The reference stays as written (HotSpot takes -Dx=%NAME% without a
    word), and the launcher says so: one line on standard error per reference,
    also in the start-up trace; set, the same line is silent."""
    app = wrap_probe("options %QLX_TEST_OPTS%\noption -Dcfg.dir=${QLX_TEST_DIR}/conf\n"
                     "argv %QLX_TEST_OPTS%")
    trace = tmp_path / "trace.txt"
    r = app.run("/test", "prop:cfg.dir", env={"_BROVANE_TRACE_": str(trace)},
                drop_env=("QLX_TEST_OPTS", "QLX_TEST_DIR"))
    assert r.returncode == 0, app.log()
    assert facts(r.stdout)["prop.cfg.dir"] == "${QLX_TEST_DIR}/conf"
    warnings = [line for line in app.log().splitlines() if line.startswith("Warning:")]
    assert warnings == [
        "Warning: %QLX_TEST_OPTS% in the configuration is not set; it stays as written.",
        "Warning: ${QLX_TEST_DIR} in the configuration is not set; it stays as written."]
    assert "qlx +" in trace.read_text() and warnings[0] in trace.read_text()

    app.stderr_log.unlink()
    r = app.run("/test", env={"QLX_TEST_OPTS": "-Dx=1", "QLX_TEST_DIR": "/srv"})
    assert r.returncode == 0 and "Warning:" not in app.log()
