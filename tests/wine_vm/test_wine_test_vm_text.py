"""Text between the launcher and a real VM (the test VM, Avian) under Wine:
line ends on the console and in the logs, a program in a folder whose name
has a character of the code page (with the legacy code page and with
--utf8-codepage), and a version limit that the VM gives no version for."""
import pytest

import qlxtest
from wine_vm_support import win

MESSAGE_5 = "Can not get the virtual machine version."


@pytest.fixture(scope="module")
def text_jar(tmp_path_factory):
    return qlxtest.avian_app_jar("vmtext", tmp_path_factory.mktemp("vmtext") / "vmtext.jar")


def wrap(jar, config, exe, *options):
    exe.parent.mkdir(parents=True, exist_ok=True)
    return qlxtest.wrap(qlxtest.STUB_WIN, jar, config, exe, "--support", *options)


def run(exe, *args, env=None):
    # C.UTF-8: Wine decodes the UTF-8 command line and still picks code page 1252.
    full = {"LANG": "C.UTF-8", "LC_ALL": "C.UTF-8", **(env or {})}
    return qlxtest.run_wine(exe, "/test", *args, env=full, timeout=120, cwd=exe.parent)


def lines_of(data):
    """The lines of a stream, each with the line end it had; every line must
    end in exactly CR LF, the last one included."""
    assert data.endswith(b"\r\n"), data
    parts = data.split(b"\n")[:-1]
    assert all(p.endswith(b"\r") and not p.endswith(b"\r\r") for p in parts), data
    return [p[:-1].decode("cp1252") for p in parts]


def test_lines_from_java_and_from_the_launcher_end_in_crlf(tmp_path, text_jar):
    """The test VM writes Java's own CR LF unchanged (its C runtime's text mode
    used to add a CR); the launcher's lines keep theirs: on the console and in
    both logs."""
    qlxtest.require_avian(current_patch=True)
    config = ("mainclass vmtext.TextCheck\n" + qlxtest.avian_config() +
              "option -Dvmtext.option=%QLX_NOT_SET_ANYWHERE%\n")
    console = wrap(text_jar, config, tmp_path / "console" / "tc.exe")
    r = run(console, "x")
    assert r.returncode == 0, r.stdout + r.stderr
    assert lines_of(r.stdout) == ["path beyond ASCII:", "option beyond ASCII:",
                                  "natives loaded, service: false", "arg beyond ASCII:"]
    log = lines_of((console.parent / "tc.exe.stderr.log").read_bytes())
    # The launcher's own line (an unset variable) and Java's, one each.
    assert log == ["Warning: %QLX_NOT_SET_ANYWHERE% in the configuration is not set; it stays "
                   "as written.", "a line on standard error"]

    out = tmp_path / "logs" / "out.log"
    logged = wrap(text_jar, config + f"stdout {win(out)}\n", tmp_path / "logs" / "tc.exe")
    r = run(logged, "x")
    assert r.returncode == 0 and r.stdout == b"", r.stdout + r.stderr
    assert lines_of(out.read_bytes())[-1] == "arg beyond ASCII:"
    assert lines_of((logged.parent / "tc.exe.stderr.log").read_bytes())[-1] == \
        "a line on standard error"


@pytest.mark.parametrize("options", [[], ["--utf8-codepage"]], ids=["cp1252", "utf8-codepage"])
def test_a_program_in_a_folder_named_in_the_code_page(tmp_path, text_jar, options):
    """C:\\apps\\Jürgen\\: the class path and the natives are found, and the path,
    a configured option, a configured argument and one from the command line
    reach Java as the same text (ü is U+00FC)."""
    qlxtest.require_avian(current_patch=True)
    config = ("mainclass vmtext.TextCheck\n" + qlxtest.avian_config() +
              "option -Dvmtext.option=J\u00fcrgen\nargv J\u00fcrgen\n")
    exe = wrap(text_jar, config, tmp_path / "J\u00fcrgen" / "tc.exe", *options)
    r = run(exe, "M\u00fcller")
    assert r.returncode == 0, (r.stdout, (exe.parent / "tc.exe.stderr.log").read_bytes())
    assert lines_of(r.stdout) == ["path beyond ASCII: fc", "option beyond ASCII: fc",
                                  "natives loaded, service: false", "arg beyond ASCII: fc",
                                  "arg beyond ASCII: fc"]


def test_a_version_limit_the_vm_gives_no_version_for_fails_with_5(tmp_path, text_jar):
    """The test VM leaves java.version unset without -Djava.version: minjre
    cannot be checked, and the launch fails instead of passing unchecked."""
    dll = win(qlxtest.AVIAN / "jvm.dll")
    config = (f"mainclass vmtext.TextCheck\njvmdll {dll}\njre_order c\n"
              f"option -Davian.bootstrap={dll}\nminjre 1.8\n")
    exe = wrap(text_jar, config, tmp_path / "tc.exe")
    r = run(exe)
    assert r.returncode == 5, r.stdout
    assert r.stdout == MESSAGE_5.encode() + b"\r\n"
    assert (tmp_path / "tc.exe.stderr.log").read_bytes().endswith(MESSAGE_5.encode() + b"\r\n")
    # Without a limit nothing needs the version: the same VM runs main.
    exe = wrap(text_jar, config.replace("minjre 1.8\n", ""), tmp_path / "plain" / "tc.exe")
    assert run(exe).returncode == 0
