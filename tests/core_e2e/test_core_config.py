"""Configuration loading seen from outside: real wrapped files built by the
generator, run natively (Linux launcher) and under Wine (qlx.exe). The
`/help` text (message 1024) is overridable by a `message` line, which makes
the merged configuration observable without starting a Java runtime."""
import shutil
import struct
import subprocess

import pytest

import qlxtest

MARKER = b"qlx:arclen:v1\0"


def _need(path):
    if not path.exists():
        pytest.skip(f"not built: {path}")


@pytest.fixture(scope="module")
def jar(tmp_path_factory):
    return qlxtest.make_jar(tmp_path_factory.mktemp("jar") / "app.jar")


@pytest.fixture
def linux_app(tmp_path, jar):
    _need(qlxtest.STUB_LINUX)
    _need(qlxtest.QLXWRAP)

    def make(config, name="prog", **kw):
        return qlxtest.wrap(qlxtest.STUB_LINUX, jar, config, tmp_path / name, **kw)
    return make


def help_text(exe, env=None):
    result = qlxtest.run_native(exe, "/help", env=env, cwd=exe.parent)
    assert result.returncode == 0, result
    return result.stdout.decode("utf-8", "replace").rstrip("\n")


@pytest.mark.parametrize("stub", ["linux", "windows"])
def test_archive_slot_marker_occurs_exactly_once(stub):
    path = qlxtest.STUB_LINUX if stub == "linux" else qlxtest.STUB_WIN
    _need(path)
    data = path.read_bytes()
    assert data.count(MARKER) == 1
    at = data.index(MARKER)
    assert data[at - 8:at] == b"\0" * 8  # the stub's slot is still empty


def test_embedded_message_with_escapes(linux_app):
    exe = linux_app("message 1024=Embedded\\tline\\nsecond \\\\ end\n")
    assert help_text(exe) == "Embedded\tline\nsecond \\ end"


@pytest.mark.parametrize("names,used", [
    (["prog.bin.cfg", "prog.bin.config", "prog.cfg", "prog.config"], "prog.bin.cfg"),
    (["prog.bin.config", "prog.cfg", "prog.config"], "prog.bin.config"),
    (["prog.cfg", "prog.config"], "prog.cfg"),
    (["prog.config"], "prog.config"),
])
def test_external_file_candidates_in_order(linux_app, names, used):
    exe = linux_app("message 1024=embedded\n", name="prog.bin")
    for n in names:
        (exe.parent / n).write_bytes(f"message 1024=from {n}\r\n".encode())
    assert help_text(exe) == f"from {used}"


@pytest.mark.parametrize("content", [
    b"message 1024=ext\n",
    b"message 1024=ext\r",
    b"message 1024=ext\n\r",
    b"message 1024=ext",
    b"\xef\xbb\xbfmessage 1024=ext\r\n",
    "message 1024=ext\r\n".encode("utf-16-le").join([b"\xff\xfe", b""]),
    "message 1024=ext\r\n".encode("utf-16-be").join([b"\xfe\xff", b""]),
    b"\n\n  MESSAGE   =  1024=ext\n",
])
def test_external_file_forms(linux_app, content):
    exe = linux_app("message 1024=embedded\n")
    (exe.parent / "prog.cfg").write_bytes(content)
    assert help_text(exe) == "ext"


@pytest.mark.parametrize("value,shown", [
    (b"ab\xe2\x82", b"ab"),                 # cut short at the end of the line: dropped
    (b"\xc3A", b"?A"),                       # missing continuation byte
    (b"\xf0\x9f\x98\x80!", b"????!"),        # four-byte sequences are not supported
    (b"\x80x", b"?x"),                       # stray continuation byte
    (b"caf\xc3\xa9", b"caf\xc3\xa9"),          # valid text is kept (UTF-8 locale)
])
def test_lenient_utf8_decoding_of_narrow_values(linux_app, value, shown):
    exe = linux_app("message 1024=embedded\n")
    (exe.parent / "prog.cfg").write_bytes(b"\xef\xbb\xbfmessage 1024=" + value + b"\r\n")
    result = qlxtest.run_native(exe, "/help", cwd=exe.parent,
                                env={"LC_ALL": "C.UTF-8", "LANG": "C.UTF-8"})
    assert result.stdout.rstrip(b"\n") == shown


def test_external_file_with_nul_does_not_hide_the_embedded_block(linux_app):
    exe = linux_app("message 1024=embedded\nmessage 13=x\n")
    (exe.parent / "prog.cfg").write_bytes(b"\xef\xbb\xbfmessage 12=a\r\n\0garbage")
    assert help_text(exe) == "embedded"


def test_disableexternal_only_from_the_embedded_block(linux_app, tmp_path):
    exe = linux_app("disableexternal TRUE\nmessage 1024=embedded\n")
    (exe.parent / "prog.cfg").write_bytes(b"message 1024=external\r\n")
    assert help_text(exe) == "embedded"

    other = linux_app("message 1024=embedded\n", name="other")
    (other.parent / "other.cfg").write_bytes(b"disableexternal true\nmessage 1024=external\n")
    assert help_text(other) == "external"


def test_expansion_in_messages_and_root_jar_length(linux_app):
    # "${NAME|default}" would ask the environment for the whole text, bar
    # included, so the plain form shows whether the variable is set.
    exe = linux_app("message 1024=[%QLX_APP_PATH%][$ARCH][$_BROVANE_ROOT_JAR_LENGTH_]\n")
    assert help_text(exe) == f"[{exe}][x86][$_BROVANE_ROOT_JAR_LENGTH_]"
    size = exe.stat().st_size
    with open(exe, "ab") as f:
        f.write(b"t" * 70000)
    assert help_text(exe) == f"[{exe}][x86][{size}]"


def test_zip_comment_sets_no_root_jar_length(linux_app, tmp_path):
    commented = tmp_path / "commented.jar"
    qlxtest.make_jar(commented)
    data = bytearray(commented.read_bytes())
    assert data[-22:-18] == b"PK\x05\x06"
    data[-2:] = struct.pack("<H", 100)
    commented.write_bytes(bytes(data) + b"c" * 100)
    exe = qlxtest.wrap(qlxtest.STUB_LINUX, commented,
                       "message 1024=[%_BROVANE_ROOT_JAR_LENGTH_%]\n", tmp_path / "zc")
    assert help_text(exe) == "[%_BROVANE_ROOT_JAR_LENGTH_%]"


def test_binary_debug_dumps_the_slot(linux_app, jar):
    exe = linux_app("message 1024=x\n")
    out = qlxtest.run_native(exe, "/help", env={"_BROVANE_BINARY_DEBUG_": ""}, cwd=exe.parent)
    first = out.stdout.split(b"\n")[0]
    assert first.endswith(b"qlx:arclen:v1.")
    assert len(first) == 22
    assert all(b >= 0x20 for b in first)


def test_bare_stub_is_refused_with_a_clear_message(tmp_path):
    _need(qlxtest.STUB_LINUX)
    stub = tmp_path / "stub"
    shutil.copy(qlxtest.STUB_LINUX, stub)
    result = qlxtest.run_native(stub, "/help")
    assert result.returncode == 14
    assert b"no payload: this is the bare launcher stub" in result.stderr


@pytest.mark.parametrize("cut", [1, 22, 5000])
def test_truncated_file_is_refused(linux_app, cut):
    exe = linux_app("message 1024=x\n")
    data = exe.read_bytes()
    exe.write_bytes(data[:-cut])
    result = qlxtest.run_native(exe, "/help", cwd=exe.parent)
    assert result.returncode == 14, result


def test_hostile_format_in_a_message_prints_as_text(linux_app):
    exe = linux_app("message 1024=%n%n%s%s%s%d%x%p\n")
    result = qlxtest.run_native(exe, "/help", cwd=exe.parent)
    assert result.returncode == 0
    assert result.stdout.startswith(b"%n%n")


def test_long_usage_text_is_printed_whole_by_help(linux_app):
    text = "".join(f"line {i:04d} of a long usage text\\n" for i in range(120)) + "end"
    exe = linux_app(f"message 1024={text}\n")
    shown = help_text(exe)
    assert len(shown) > 3000
    assert shown.endswith("line 0119 of a long usage text\nend")


@pytest.fixture(scope="module")
def wine_prefix():
    qlxtest.start_wine_session((qlxtest.STUB_WIN, "Windows launcher stub"))
    yield
    qlxtest.stop_wineserver()


def test_wine_external_file_overrides_embedded_and_cp1252(wine_prefix, tmp_path, jar):
    _need(qlxtest.QLXWRAP)
    exe = qlxtest.wrap(qlxtest.STUB_WIN, jar, "message 1024=embedded caf\u00e9\n",
                       tmp_path / "tool.exe")
    result = qlxtest.run_wine(exe, "/help", cwd=tmp_path)
    assert result.returncode == 0, result
    # The UTF-8 configuration text reaches the console in code page 1252.
    assert result.stdout.rstrip(b"\r\n") == b"embedded caf\xe9"

    (tmp_path / "tool.config").write_bytes(b"message 1024=from tool.config\r\n")
    result = qlxtest.run_wine(exe, "/help", cwd=tmp_path)
    assert result.stdout.rstrip(b"\r\n") == b"from tool.config"
    (tmp_path / "tool.exe.cfg").write_bytes("message 1024=x\r\n".encode("utf-16-le")
                                            .join([b"\xff\xfe", b""]))
    result = qlxtest.run_wine(exe, "/help", cwd=tmp_path)
    assert result.stdout.rstrip(b"\r\n") == b"x"


def test_wine_bare_stub_is_refused(wine_prefix, tmp_path):
    stub = tmp_path / "stub.exe"
    shutil.copy(qlxtest.STUB_WIN, stub)
    result = qlxtest.run_wine(stub, "/help", cwd=tmp_path)
    assert result.returncode == 14
    assert b"bare launcher stub" in result.stderr + result.stdout


def test_wine_narrow_external_file_is_read_in_the_code_page(wine_prefix, tmp_path, jar):
    _need(qlxtest.QLXWRAP)
    exe = qlxtest.wrap(qlxtest.STUB_WIN, jar, "message 1024=embedded\n", tmp_path / "nar.exe")
    (tmp_path / "nar.cfg").write_bytes(b"message 1024=caf\xe9 narrow\r\n")
    result = qlxtest.run_wine(exe, "/help", cwd=tmp_path)
    assert result.stdout.rstrip(b"\r\n") == b"caf\xe9 narrow"
    # UTF-8 text reaches the program in the ANSI code page: the euro sign is
    # 0x80 in code page 1252, a cut-short sequence is dropped.
    (tmp_path / "nar.cfg").write_bytes(b"\xef\xbb\xbfmessage 1024=\xe2\x82\xac ab\xe2\x82\r\n")
    result = qlxtest.run_wine(exe, "/help", cwd=tmp_path)
    assert result.stdout.rstrip(b"\r\n") == b"\x80 ab"


def _reg(*args):
    return subprocess.run(["wine", "reg", *args], env=qlxtest.wine_env(), capture_output=True,
                          timeout=60)


def test_wine_registry_references(wine_prefix, tmp_path, jar):
    _need(qlxtest.QLXWRAP)
    key = "HKCU\\Software\\QlxCoreExpandTest"
    try:
        _reg("add", key, "/v", "Sz", "/t", "REG_SZ", "/d", "text value", "/f")
        _reg("add", key, "/v", "Dw", "/t", "REG_DWORD", "/d", "0xFFFFFFFF", "/f")
        _reg("add", key, "/v", "Ex", "/t", "REG_EXPAND_SZ", "/d", "[%QLX_CORE_T%]", "/f")
        _reg("add", key, "/ve", "/t", "REG_SZ", "/d", "default value", "/f")
        config = ("message 1024=${" + key + "\\Sz}|${" + key + "\\Dw}|${" + key + "\\Ex}|${"
                  + key + "\\}|${" + key + "\\Missing|fb}|${hkcu\\Software\\X|lower}\n")
        exe = qlxtest.wrap(qlxtest.STUB_WIN, jar, config, tmp_path / "reg.exe")
        result = qlxtest.run_wine(exe, "/help", cwd=tmp_path, env={"QLX_CORE_T": "env"})
        assert result.stdout.rstrip(b"\r\n") == b"text value|-1|[env]|default value|fb|lower"
    finally:
        _reg("delete", key, "/f")
