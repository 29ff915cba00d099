"""qlxwrap catching mistakes before a program ships: configuration errors and
warnings, --check on an external file, signed stubs, hostile icon files, and
--inspect output that a hostile file cannot turn into terminal commands."""
import shutil
import struct
import subprocess

import pytest

import qlxtest
from qlxtest import QLXWRAP, STUB_WIN

MARKER = b"qlx:arclen:v1\0"

pytestmark = pytest.mark.skipif(not QLXWRAP.exists(), reason="qlxwrap not built")
needs_win_stub = pytest.mark.skipif(not STUB_WIN.exists(), reason="Windows launcher not built")


def run(*args, cwd=None):
    return subprocess.run([str(QLXWRAP), *map(str, args)], capture_output=True, timeout=60, cwd=cwd)


@pytest.fixture(scope="module")
def jar(tmp_path_factory):
    return qlxtest.make_jar(tmp_path_factory.mktemp("jar") / "app.jar", {
        "META-INF/MANIFEST.MF": b"Manifest-Version: 1.0\r\n\r\n", "a/B.class": b"stand-in"})


@pytest.fixture()
def stub(tmp_path):
    path = tmp_path / "stub"
    path.write_bytes(bytes(512) + b"\0" * 8 + MARKER + b"end")
    return path


@pytest.mark.parametrize("config, code, written, stderr", [
    ("mainclass a.B\nminjre 1.8\nsingleinstance handover\n", 0, True, []),
    ("option -Xmx64m\n", 1, False, ["qlxwrap: configuration: no mainclass"]),
    ("mainclass a.B\nminjre one.eight\n", 1, False,
     ["qlxwrap: configuration line 2: minjre 'one.eight' cannot be read: expected a Java version"]),
    ("mainclass a.B\njre_order cbz\n", 1, False, ["qlxwrap: configuration line 2: jre_order 'cbz'"]),
    ("mainclass a.B\nmainargv x\n", 1, False, ["qlxwrap: configuration line 2: mainargv 'x'"]),
    ("mainclass a.B\nsingleinstance \x1b[2J\n", 1, False,
     ["qlxwrap: configuration line 2: singleinstance '\\x1B[2J' cannot be read"]),
    # Warnings do not stop the generator; they name the nearest known key.
    ("mainclass a.B\noptoin -Xmx64m\nMinJRE 11\nminjre 17\n", 0, True,
     ["qlxwrap: warning: configuration line 2: unknown key 'optoin' is ignored "
      "(nearest known key: 'option')",
      "qlxwrap: warning: configuration line 4: minjre is set again: only line 3 counts"]),
    # One option line is one VM option as written: the VM would get the quotes.
    ('mainclass a.B\noption "-Dheart.title=/opt/My Heart"\noptions "-Dx=a b"\n', 0, True,
     ["qlxwrap: warning: configuration line 2: option '\"-Dheart.title=/opt/My Heart\"' "
      "reaches the VM as written, quotes included"]),
    ("mainclass a.Gone\n", 0, True,
     ["qlxwrap: warning: configuration: mainclass a.Gone is in neither the JAR nor a merged "
      "archive (no a/Gone.class)"]),
])
def test_configuration_is_checked_before_anything_is_written(tmp_path, stub, jar, config, code,
                                                             written, stderr):
    cfg, out = tmp_path / "app.cfg", tmp_path / "out"
    cfg.write_text(config)
    result = run("--stub", stub, "--jar", jar, "--config", cfg, "-o", out)
    assert result.returncode == code, result.stderr
    lines = result.stderr.decode().splitlines()
    assert len(lines) == len(stderr) and all(
        line.startswith(want) for line, want in zip(lines, stderr)), lines
    assert out.exists() == written
    assert sorted(p.name for p in tmp_path.iterdir()) == sorted(
        ["app.cfg", "stub"] + (["out"] if written else []))
    # Tests of the launcher's own tolerance still get their program, with the errors noted.
    allowed = run("--stub", stub, "--jar", jar, "--config", cfg, "-o", out, "--allow-config-errors")
    assert allowed.returncode == 0 and out.exists()
    if code:
        assert b"error (allowed): configuration" in allowed.stderr


def test_check_reads_an_external_file_as_the_launcher_will(tmp_path):
    good, bad = tmp_path / "good.cfg", tmp_path / "bad.cfg"
    # mainclass is read from the embedded block only: beside the program it does nothing.
    good.write_text("option -Xmx64m\noptions %JAVA_OPTS%\nmainclass x.Y\n")
    bad.write_bytes("wildcard maybe\r\noptoin -Da\r\nminjre 1.8.0_392\r\n".encode("utf-16"))
    ok = run("--check", good)
    assert ok.returncode == 0
    assert ok.stdout.decode() == f"{good}: 0 errors, 1 warning\n"
    assert "line 3: mainclass is only read from the embedded configuration" in ok.stderr.decode()
    failed = run("--check", bad)
    assert failed.returncode == 1
    assert failed.stdout.decode() == f"{bad}: 1 error, 1 warning\n"
    lines = failed.stderr.decode().splitlines()
    assert lines[0].startswith(f"qlxwrap: {bad}: error: line 1: wildcard 'maybe'")
    assert lines[1].startswith(f"qlxwrap: {bad}: warning: line 2: unknown key 'optoin'")
    assert run("--check", tmp_path / "none.cfg").returncode == 2
    assert run("--check", good, "--stub", good).returncode == 1


def test_strict_makes_every_warning_an_error_and_writes_nothing(tmp_path, stub, jar):
    warnings = {
        "unknown key": ("mainclass a.B\noptoin -Xmx64m\n", "app.cfg"),
        "quoted option": ('mainclass a.B\noption -Dx="a b"\n', "app.cfg"),
        "class not in the archive": ("mainclass a.Gone\n", "app.cfg"),
        # The source where the output reads its external file: out.cfg beside out.
        "beside the output": ("mainclass a.B\n", "out.cfg"),
    }
    for name, (config, cfg_name) in warnings.items():
        where = tmp_path / name.replace(" ", "-")
        where.mkdir()
        cfg, out = where / cfg_name, where / "out"
        cfg.write_text(config)
        relaxed = run("--stub", stub, "--jar", jar, "--config", cfg, "-o", out)
        assert relaxed.returncode == 0 and out.exists(), (name, relaxed.stderr)
        assert relaxed.stderr.decode().startswith("qlxwrap: warning: "), name
        out.unlink()
        strict = run("--stub", stub, "--jar", jar, "--config", cfg, "-o", out, "--strict")
        lines = strict.stderr.decode().splitlines()
        assert strict.returncode == 1, (name, lines)
        assert len(lines) == 1 and lines[0].startswith("qlxwrap: error (--strict): "), (name, lines)
        assert sorted(p.name for p in where.iterdir()) == [cfg_name], name
    external = tmp_path / "external.cfg"
    external.write_text("option -Xmx64m\noptoin -Da\n")
    assert run("--check", external).returncode == 0
    checked = run("--check", external, "--strict")
    assert checked.returncode == 1
    assert b"error (--strict): line 2: unknown key 'optoin'" in checked.stderr
    both = run("--stub", stub, "--jar", jar, "-o", tmp_path / "x", "--strict",
               "--allow-config-errors")
    assert both.returncode == 1 and not (tmp_path / "x").exists()


def test_main_class_from_the_manifest(tmp_path, stub):
    # Written the way the JDK's jar tool writes it: deflated, lines wrapped at 72 bytes.
    name = "com.example.application.with.a.rather.long.package.name.Main"
    manifest = f"Manifest-Version: 1.0\r\nMain-Class: {name}\r\n\r\n".encode()
    wrapped = manifest[:72] + b"\r\n " + manifest[72:]
    jar = qlxtest.make_jar(tmp_path / "app.jar", {"META-INF/MANIFEST.MF": wrapped,
                                                   name.replace(".", "/") + ".class": b"x"})
    cfg, out = tmp_path / "app.cfg", tmp_path / "out"
    cfg.write_text("option -Xmx64m\n")
    result = run("--stub", stub, "--jar", jar, "--config", cfg, "-o", out)
    assert result.returncode == 0, result.stderr
    assert result.stderr.decode().splitlines() == [
        f"qlxwrap: note: no mainclass in the configuration: {name}, the Main-Class of the JAR's "
        "manifest, is used"]
    assert b"\xef\xbb\xbfmainclass " + name.encode() + b"\r\noption -Xmx64m\r\n\0" in out.read_bytes()
    # Still a note under --strict: it is what the author asked for by leaving mainclass out.
    assert run("--stub", stub, "--jar", jar, "--config", cfg, "-o", out, "--strict").returncode == 0


def ico(entries, body):
    """An .ico header with (size, offset) entries, then `body`."""
    out = struct.pack("<HHH", 0, 1, len(entries))
    for size, offset in entries:
        out += struct.pack("<BBBBHHII", 16, 16, 0, 0, 1, 32, size, offset)
    return out + body


def dib16():
    return struct.pack("<IiiHHIIiiII", 40, 16, 32, 1, 32, 0, 0, 0, 0, 0, 0) + bytes(16 * 16 * 4 + 64)


@needs_win_stub
def test_icon_files_that_would_multiply_are_refused(tmp_path, jar):
    image = dib16()
    n = len(image)
    head = lambda count: 6 + 16 * count  # noqa: E731
    cases = {
        # Every entry names the same image (the reported file had 65,535 of them).
        "repeated": ico([(n, head(10))] * 10, image),
        "overlapping": ico([(n, head(2)), (n, head(2) + 40)], image + image),
        "too many": ico([(n, head(65) + n * i) for i in range(65)], image * 65),
        "too large": ico([(17 << 20, head(1))], image + bytes((17 << 20) - n)),
    }
    cfg = tmp_path / "app.cfg"
    cfg.write_text("mainclass a.B\n")
    for name, data in cases.items():
        icon, out = tmp_path / f"{name}.ico", tmp_path / "out.exe"
        icon.write_bytes(data)
        result = run("--stub", STUB_WIN, "--jar", jar, "--config", cfg, "--icon", icon, "-o", out)
        lines = result.stderr.decode().splitlines()
        assert result.returncode == 7, (name, lines)
        assert len(lines) == 1 and lines[0].startswith("qlxwrap: --icon: "), (name, lines)
        assert not out.exists(), name
    # Two distinct images side by side are an ordinary icon.
    icon = tmp_path / "two.ico"
    icon.write_bytes(ico([(n, head(2)), (n, head(2) + n)], image + image))
    assert run("--stub", STUB_WIN, "--jar", jar, "--config", cfg, "--icon", icon,
               "-o", tmp_path / "ok.exe").returncode == 0


def security_directory(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    return struct.unpack_from("<II", data, pe + 24 + 112 + 8 * 4)


@needs_win_stub
@pytest.mark.skipif(not (shutil.which("osslsigncode") and shutil.which("openssl")),
                    reason="signing tools missing")
def test_a_signed_stub_loses_its_certificate(tmp_path, jar):
    key, cert = tmp_path / "key.pem", tmp_path / "cert.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", str(key),
                    "-out", str(cert), "-subj", "/CN=qlx test", "-days", "2"],
                   check=True, capture_output=True, timeout=60)
    signed_stub = tmp_path / "signed-qlx.exe"
    subprocess.run(["osslsigncode", "sign", "-certs", str(cert), "-key", str(key), "-in", str(STUB_WIN),
                    "-out", str(signed_stub)], check=True, capture_output=True, timeout=60)
    address, size = security_directory(signed_stub.read_bytes())
    assert address and size
    cfg = tmp_path / "app.cfg"
    cfg.write_text("mainclass a.B\n")
    # One output name for both: it becomes the default service name.
    (tmp_path / "plain").mkdir()
    plain = run("--stub", STUB_WIN, "--jar", jar, "--config", cfg, "-o", tmp_path / "plain" / "out.exe")
    result = run("--stub", signed_stub, "--jar", jar, "--config", cfg, "-o", tmp_path / "out.exe")
    assert plain.returncode == 0 and result.returncode == 0
    assert result.stderr.decode().splitlines() == [
        f"qlxwrap: note: the stub was signed; its certificate ({size} bytes) was removed: "
        "sign the output again"]
    out = (tmp_path / "out.exe").read_bytes()
    assert security_directory(out) == (0, 0)
    # Without its certificate the signed stub is the plain one: the outputs match byte for byte.
    assert out == (tmp_path / "plain" / "out.exe").read_bytes()
    inspected = run("--inspect", tmp_path / "out.exe")
    assert inspected.returncode == 0 and b"signature:          none\n" in inspected.stdout


@needs_win_stub
def test_inspect_shows_hostile_text_inert_and_reserved_texts_as_not_set(tmp_path, jar):
    bare = run("--inspect", STUB_WIN)
    assert bare.returncode == 11
    for label in ("service name:", "display name:", "description:", "dependencies:"):
        assert f"{label:20}not set\n".encode() in bare.stdout
    assert b"####" not in bare.stdout

    hostile = ("mainclass a.B\nproperty t=\x1b]0;owned\x07\x1b[2J\r"
               "digest:             intact\nappid \u202egnp.exe\n")
    out = qlxtest.wrap(STUB_WIN, jar, hostile, tmp_path / "hostile.exe",
                       "--description", "x\x1b[31mred\u009b2J", "--service-name", "svc\tname")
    result = run("--inspect", out)
    assert result.returncode == 0
    text = result.stdout
    assert all(b >= 0x20 or b == 0x0A for b in text), text
    shown = text.decode()
    assert "| property t=\\x1B]0;owned\\x07\\x1B[2J" in shown
    assert "| digest:             intact" in shown  # a configuration line, marked as one
    assert "| appid \\u202Egnp.exe" in shown
    assert "x\\x1B[31mred\\u009B2J" in shown and "svc\\x09name" in shown
    assert "config check:       no mistakes found" not in shown  # 'digest' is no key
    assert "unknown key 'digest'" in shown
