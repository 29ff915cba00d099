"""Start-up under Wine: the external configuration file, the working
directory, and the wildcard expansion of the command line."""
import pytest

import qlxtest
from core_support import USAGE, read_text

CANDIDATES = ["tool.exe.cfg", "tool.exe.config", "tool.cfg", "tool.config"]


@pytest.mark.parametrize("present", [
    CANDIDATES,
    CANDIDATES[1:],
    CANDIDATES[2:],
    CANDIDATES[3:],
    ["tool.exe.config", "tool.config"],
    ["tool.exe.cfg", "tool.cfg"],
])
def test_external_configuration_candidates_in_order(make_app, present):
    app = make_app("", name="tool")
    for name in present:
        (app.dir / name).write_text(f"message 1024=from {name}\n")
    result = app.run("/help")
    assert result.stdout == f"from {present[0]}\r\n".encode()


def test_external_file_overrides_the_embedded_block(make_app):
    app = make_app("message 1024=embedded\n")
    assert app.run("/help").stdout == b"embedded\r\n"
    (app.dir / "app.exe.cfg").write_bytes(b"message 1024=external\r\n")
    assert app.run("/help").stdout == b"external\r\n"


def test_utf16_external_file(make_app):
    app = make_app("")
    (app.dir / "app.cfg").write_bytes(b"\xff\xfe" + "message 1024=wide text\r\n".encode("utf-16-le"))
    assert app.run("/help").stdout == b"wide text\r\n"


def test_disableexternal_in_the_embedded_block_ignores_the_file(make_app):
    app = make_app("disableexternal TRUE\n")
    (app.dir / "app.exe.cfg").write_text("message 1024=external\n")
    assert app.run("/help").stdout == USAGE


def test_disableexternal_in_the_external_file_has_no_effect(make_app):
    app = make_app("")
    (app.dir / "app.exe.cfg").write_text("disableexternal true\nmessage 1024=external\n")
    assert app.run("/help").stdout == b"external\r\n"


# Where a relative `stdout` file lands shows the working directory the
# launcher chose. The program lies in <tmp>/app and is started from
# <tmp>/elsewhere.
@pytest.mark.parametrize("forcecwd, expected", [
    (None, "app"),
    (".", "app"),
    ("sub", "app/sub"),
    ("..\\other", "other"),
    ("{wine_abs}", "abs"),
    ("{drive_relative}", "abs"),
    ("{unix_abs}", "abs"),
    ("missing-dir", "elsewhere"),
])
def test_forcecwd(make_app, tmp_path, forcecwd, expected):
    for d in ("app/sub", "other", "abs", "elsewhere"):
        (tmp_path / d).mkdir(parents=True, exist_ok=True)
    abs_dir = qlxtest.wine_path(tmp_path / "abs")
    config = "stdout where.txt\n"
    if forcecwd is not None:
        value = forcecwd.format(wine_abs=abs_dir, drive_relative=abs_dir[2:],
                                unix_abs=str(tmp_path / "abs"))
        config += f"forcecwd {value}\n"
    app = make_app(config, directory=tmp_path / "app")
    result = app.run("/help", cwd=tmp_path / "elsewhere")
    assert result.returncode == 0
    found = sorted(str(p.parent.relative_to(tmp_path)) for p in tmp_path.rglob("where.txt"))
    assert found == [expected]
    assert (tmp_path / expected / "where.txt").read_bytes() == USAGE


@pytest.fixture
def wildcard_files(make_app):
    def make(mode):
        config = f"wildcard {mode}\n" if mode else ""
        app = make_app(config)
        for name in ("a.txt", "b.txt", "c d.txt", "note.log"):
            (app.dir / name).write_text("x")
        (app.dir / "sub").mkdir()
        (app.dir / "sub" / "x.log").write_text("x")
        return app
    return make


@pytest.mark.parametrize("mode, args, expected", [
    # Unquoted patterns expand in modes true/auto/all, in listing order.
    ("true", ["*.txt"], {"a.txt", "b.txt", "c d.txt"}),
    ("AUTO", ["?.txt", "plain"], {"a.txt", "b.txt", "plain"}),
    ("all", ["n*.log"], {"note.log"}),
    ("true", ["sub\\*.log"], {"sub\\x.log"}),
    # A pattern without a match stays as written.
    ("true", ["zz*.none"], {"zz*.none"}),
    # An argument with a blank reaches the command line quoted: a quoted
    # wildcard expands only in mode all.
    ("true", ["c *.txt"], {"c *.txt"}),
    ("all", ["c *.txt"], {"c d.txt"}),
    # Off: nothing expands.
    (None, ["*.txt"], {"*.txt"}),
    ("false", ["*.txt"], {"*.txt"}),
])
def test_wildcard_expansion(wildcard_files, mode, args, expected):
    app = wildcard_files(mode)
    result = app.run("/test", *args)
    assert result.returncode == 0, result
    got = app.main_args()
    assert set(got) == expected
    assert len(got) == len(expected)


def test_wildcard_keeps_argument_order_around_expansions(wildcard_files):
    app = wildcard_files("true")
    assert app.run("/test", "first", "?.txt", "last").returncode == 0
    got = app.main_args()
    assert got[0] == "first" and got[-1] == "last"
    assert sorted(got[1:-1]) == ["a.txt", "b.txt"]


def test_wildcard_expansion_reaches_the_service_switches(wildcard_files):
    # The rebuilt vector replaces the runtime's for the command line too:
    # the switch itself is found in it.
    app = wildcard_files("all")
    assert app.run("/help", "*.txt").stdout == USAGE


def test_program_in_a_folder_the_code_page_cannot_spell(make_app, tmp_path):
    # C.UTF-8 gives Wine the ANSI code page 1252, which has no Cyrillic.
    app = make_app("argv embedded\n", directory=tmp_path / "\u041f\u0440\u0438\u0432\u0435\u0442")
    (app.dir / "app.exe.cfg").write_text("argv external\n")
    log = tmp_path / "jvm.log"  # where the double's narrow calls can reach it
    r = app.run("/test", script="eprint to the log",
                env={"LANG": "C.UTF-8", "LC_ALL": "C.UTF-8", "QLX_JVM_LOG": str(log)})
    lines = read_text(log).decode("cp1252").splitlines()
    # Payload, integrity check and both configurations read; the VM and the
    # log beside the program reached through a name the code page can spell.
    assert r.returncode == 0, (r.stdout, lines)
    assert [line for line in lines if line.startswith("main arg=")] == [
        "main arg=external", "main arg=embedded"]
    app_path = [line for line in lines if line.startswith("option -Dqlx.app.path=")][0]
    assert app_path.isascii() and "?" not in app_path and app_path.endswith("\\app.exe")
    assert read_text(app.stderr_log) == b"to the log\n"
