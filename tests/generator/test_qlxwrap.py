"""qlxwrap from the outside: options, exit codes, the files it leaves, and
what its outputs contain (read back with an independent Python reader of the
payload and of PE string resources), run on the real JVM and under Wine."""
import os
import shutil
import struct
import subprocess
import zipfile
from pathlib import Path

import pytest

import qlxtest
from qlxtest import QLXWRAP, STUB_LINUX, STUB_WIN, JDK, BUILD_WIN

HELLO_SRC = qlxtest.ROOT / "tests" / "apps" / "hello"
MARKER = b"qlx:arclen:v1\0"

pytestmark = pytest.mark.skipif(not QLXWRAP.exists(), reason="qlxwrap not built")


MAIN_CFG = None  # a configuration naming the sample's main class


@pytest.fixture(scope="module", autouse=True)
def main_cfg(tmp_path_factory):
    global MAIN_CFG
    MAIN_CFG = tmp_path_factory.mktemp("cfg") / "main.cfg"
    MAIN_CFG.write_text("mainclass sample.Hello\n")
    yield MAIN_CFG


def qlxwrap(*args, cwd=None):
    """Runs qlxwrap; a wrapping run given no configuration gets MAIN_CFG, since
    a program without a main class is refused."""
    args = list(args)
    if "--stub" in args and "--config" not in args:
        args += ["--config", MAIN_CFG]
    return subprocess.run([str(QLXWRAP), *map(str, args)], capture_output=True, text=True,
                          cwd=cwd, timeout=60)


@pytest.fixture(scope="module")
def hello_jar(tmp_path_factory):
    return qlxtest.compile_java(HELLO_SRC, tmp_path_factory.mktemp("hello") / "hello.jar")


@pytest.fixture()
def fake_stub(tmp_path):
    """A stand-in stub: arbitrary bytes with one empty archive length slot."""
    stub = tmp_path / "stub"
    stub.write_bytes(bytes(range(256)) * 4 + b"\0" * 8 + MARKER + b"tail of the image")
    stub.chmod(0o750)
    return stub


def parse_payload(data):
    """The payload as laid out after the stub: (block, L, digest, archive, A from slot)."""
    at = data.index(MARKER)
    assert data.find(MARKER, at + 1) == -1
    archive_length = struct.unpack_from("<q", data, at - 8)[0]
    archive = data[len(data) - archive_length:]
    digest_at = len(data) - archive_length - 16
    block_length = struct.unpack_from("<i", data, digest_at - 4)[0]
    block = data[digest_at - 4 - block_length:digest_at - 4]
    return block, block_length, data[digest_at:digest_at + 16], archive, archive_length


def pe_string_block(data, block_id):
    """Independent reader: RT_STRING -> block_id -> first language -> 16 strings."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0"
    sections, opt_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    opt = pe + 24
    dirs = opt + (112 if struct.unpack_from("<H", data, opt)[0] == 0x20B else 96)
    rsrc_rva = struct.unpack_from("<I", data, dirs + 16)[0]
    table = [struct.unpack_from("<8sIIII", data, opt + opt_size + 40 * i) for i in range(sections)]

    def offset(rva):
        for _, vsize, va, raw_size, raw in table:
            if va <= rva < va + max(vsize, raw_size):
                return raw + rva - va
        raise AssertionError("rva outside sections")

    base = offset(rsrc_rva)

    def entry(directory, wanted=None):
        named, ids = struct.unpack_from("<HH", data, base + directory + 12)
        for i in range(named, named + ids):
            name, target = struct.unpack_from("<II", data, base + directory + 16 + 8 * i)
            if wanted is None or name == wanted:
                return target & 0x7FFFFFFF
        raise AssertionError(f"resource {wanted} missing")

    data_entry = entry(entry(entry(0, 6), block_id))
    rva, size = struct.unpack_from("<II", data, base + data_entry)
    pos, strings = offset(rva), []
    for _ in range(16):
        (n,) = struct.unpack_from("<H", data, pos)
        strings.append(data[pos + 2:pos + 2 + 2 * n].decode("utf-16-le"))
        pos += 2 + 2 * n
    return strings


def test_help_documents_options_layout_and_exit_codes():
    result = qlxwrap("--help")
    assert result.returncode == 0
    for word in ["--stub", "--jar", "--config", "--output", "-o", "--service-name", "--display-name",
                 "--description", "--depends", "--merge", "--support", "--help", "--version",
                 "Exit codes", "digest", "CR LF"]:
        assert word in result.stdout, word
    for code in range(7):
        assert f"\n  {code}  " in result.stdout
    version = qlxwrap("--version")
    assert version.returncode == 0 and version.stdout.startswith("qlxwrap ")


def test_bad_inputs_give_one_line_and_their_exit_code(tmp_path, fake_stub, hello_jar):
    not_zip = tmp_path / "not.jar"
    not_zip.write_text("plain text, not an archive\n")
    no_slot = tmp_path / "noslot"
    no_slot.write_bytes(b"\x7fELF" + bytes(500))
    two_slots = tmp_path / "twoslots"
    two_slots.write_bytes(fake_stub.read_bytes() * 2)
    bad_cfg = tmp_path / "bad.cfg"
    bad_cfg.write_bytes(b"mainclass caf\xe9\n")
    good_cfg = tmp_path / "good.cfg"
    good_cfg.write_text("mainclass sample.Hello\n")
    wrapped = tmp_path / "wrapped"
    assert qlxwrap("--stub", fake_stub, "--jar", hello_jar, "-o", wrapped).returncode == 0

    out = tmp_path / "out"
    base = ["--stub", fake_stub, "--jar", hello_jar, "--config", good_cfg]
    cases = [
        ("unknown option", [*base, "-o", out, "--frobnicate"], 1),
        ("no output", base, 1),
        ("option without value", [*base, "-o"], 1),
        ("bad configuration text", ["--stub", fake_stub, "--jar", hello_jar, "--config", bad_cfg, "-o", out], 1),
        ("missing stub", ["--stub", tmp_path / "nope", "--jar", hello_jar, "-o", out], 2),
        ("missing jar", ["--stub", fake_stub, "--jar", tmp_path / "nope.jar", "-o", out], 2),
        ("missing config", ["--stub", fake_stub, "--jar", hello_jar, "--config", tmp_path / "x", "-o", out], 2),
        ("stub is a directory", ["--stub", tmp_path, "--jar", hello_jar, "-o", out], 2),
        ("missing merge", [*base, "-o", out, "--merge", tmp_path / "nope.jar"], 2),
        ("jar not a zip", ["--stub", fake_stub, "--jar", not_zip, "-o", out], 3),
        ("merge not a zip", [*base, "-o", out, "--merge", not_zip], 3),
        ("stub without slot", ["--stub", no_slot, "--jar", hello_jar, "-o", out], 4),
        ("stub with two slots", ["--stub", two_slots, "--jar", hello_jar, "-o", out], 4),
        ("stub already wrapped", ["--stub", wrapped, "--jar", hello_jar, "-o", out], 4),
        ("output directory missing", [*base, "-o", tmp_path / "no" / "such" / "dir" / "out"], 5),
    ]
    for name, args, code in cases:
        result = qlxwrap(*args)
        assert result.returncode == code, (name, result.stderr)
        lines = result.stderr.splitlines()
        assert len(lines) == 1 and lines[0].startswith("qlxwrap: "), (name, result.stderr)
        assert not out.exists(), name
    assert not [p for p in tmp_path.iterdir() if p.name.startswith(".qlxwrap-")]


def test_output_is_replaced_whole_or_not_at_all(tmp_path, fake_stub, hello_jar):
    out = tmp_path / "app"
    out.write_bytes(b"previous program")
    not_zip = tmp_path / "not.jar"
    not_zip.write_text("nope")
    assert qlxwrap("--stub", fake_stub, "--jar", not_zip, "-o", out).returncode == 3
    assert out.read_bytes() == b"previous program"
    result = qlxwrap("--stub", fake_stub, "--jar", hello_jar, "-o", out)
    assert result.returncode == 0, result.stderr
    assert out.read_bytes().startswith(fake_stub.read_bytes()[:1024])
    assert (out.stat().st_mode & 0o7777) == 0o750  # the stub's permission bits
    assert sorted(p.name for p in tmp_path.iterdir()) == sorted(["app", "not.jar", "stub"])


def test_payload_layout_and_configuration_encodings(tmp_path, fake_stub, hello_jar):
    stub = fake_stub.read_bytes()
    texts = {
        "utf8": "mainclass sample.Hello\nmessage 257=Caf\u00e9 \u20ac\r\nargv x".encode("utf-8"),
        "utf8-mark": b"\xef\xbb\xbf" + "mainclass sample.Hello\nmessage 257=Caf\u00e9 \u20ac\r\nargv x".encode(),
        "utf16le": "\ufeffmainclass sample.Hello\rmessage 257=Caf\u00e9 \u20ac\r\nargv x".encode("utf-16-le"),
        "utf16be": "\ufeffmainclass sample.Hello\nmessage 257=Caf\u00e9 \u20ac\nargv x".encode("utf-16-be"),
    }
    expected = b"\xef\xbb\xbf" + "mainclass sample.Hello\r\nmessage 257=Caf\u00e9 \u20ac\r\nargv x".encode() + b"\0"
    for name, raw in texts.items():
        out = qlxtest.wrap(fake_stub, hello_jar, None, tmp_path / name, config_bytes=raw)
        data = out.read_bytes()
        block, length, digest, archive, slot = parse_payload(data)
        at = stub.index(MARKER) - 8  # the archive length slot is the only change to the stub
        assert data[:at] == stub[:at] and data[at + 8:len(stub)] == stub[at + 8:]
        assert data[at:at + 8] == struct.pack("<q", slot)
        assert block == expected, name
        assert length == len(expected) and len(data) == len(stub) + length + 4 + 16 + slot
        assert archive == hello_jar.read_bytes()
        assert digest != bytes(16)
    # The digest depends on the content: a different text, a different digest.
    assert parse_payload((tmp_path / "utf8").read_bytes())[2] != parse_payload(
        qlxtest.wrap(fake_stub, hello_jar, "mainclass other.Main\n", tmp_path / "o").read_bytes())[2]


def test_jvm_reads_the_archive_at_the_end_of_the_program(tmp_path, fake_stub, hello_jar):
    """The JDK's zip reader finds entries whose offsets are relative to the
    archive's first byte even with the stub and configuration before it."""
    out = qlxtest.wrap(fake_stub, hello_jar, "mainclass sample.Hello\n", tmp_path / "hello.bin")
    result = subprocess.run([str(JDK / "bin" / "java"), "-cp", str(out), "sample.Hello", "x"],
                            capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    assert "[0] x" in result.stdout


def test_merge_adds_entries_and_the_application_wins(tmp_path, fake_stub, hello_jar):
    lib = qlxtest.make_jar(tmp_path / "lib.jar", {
        "META-INF/MANIFEST.MF": b"Manifest-Version: 1.0\r\nCreated-By: lib\r\n\r\n",
        "sample/Hello.class": b"not the application's class",
        "lib/data.txt": b"from the library",
    })
    out = tmp_path / "merged.bin"
    result = qlxwrap("--stub", fake_stub, "--jar", hello_jar, "--merge", lib, "-o", out)
    assert result.returncode == 0, result.stderr
    with zipfile.ZipFile(out) as z:
        assert z.read("lib/data.txt") == b"from the library"
        assert z.read("sample/Hello.class") == zipfile.ZipFile(hello_jar).read("sample/Hello.class")
        assert "META-INF/MANIFEST.MF" not in z.namelist()  # a library's manifest is not the application's
        assert z.testzip() is None
    run = subprocess.run([str(JDK / "bin" / "java"), "-cp", str(out), "sample.Hello"],
                         capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr


def test_support_classes_are_merged(tmp_path, fake_stub, hello_jar):
    support = qlxtest.BUILD_HOST / "java" / "qlx-support.jar"
    if not support.exists():
        pytest.skip("qlx-support.jar not built")
    out = tmp_path / "with-support.bin"
    result = qlxwrap("--stub", fake_stub, "--jar", hello_jar, "--support", "-o", out)
    assert result.returncode == 0, result.stderr
    names = zipfile.ZipFile(out).namelist()
    assert "sample/Hello.class" in names
    assert "com/tarnwick/qlx/ServiceStatusManager.class" in names


@pytest.mark.skipif(not STUB_LINUX.exists(), reason="Linux launcher not built")
def test_wrapped_linux_program_runs_its_application(tmp_path, hello_jar):
    out = qlxtest.wrap(STUB_LINUX, hello_jar, "mainclass sample.Hello\nargv first\n", tmp_path / "hello",
                       "--service-name", "ignored")
    result = qlxtest.run_native(out, "/test", "a b", env={"JAVA_HOME": str(JDK)})
    assert result.returncode == 0, result.stderr
    lines = result.stdout.decode().splitlines()
    assert "  [0] first" in lines and "  [1] a b" in lines
    assert f"qlx.app.path = {out}" in lines


@pytest.mark.skipif(not STUB_WIN.exists(), reason="Windows launcher not built")
def test_windows_program_carries_the_service_identity(tmp_path, hello_jar):
    texts = {"--service-name": "Qlx Svc %1 $x",
             "--display-name": "D\u00e9j\u00e0 vu \u20ac \\server\\%PATH%",
             "--description": "Line with 100% and $HOME and C:\\Temp",
             "--depends": "Tcpip/Dhcp"}
    args = [a for pair in texts.items() for a in pair]
    out = qlxtest.wrap(STUB_WIN, hello_jar, "mainclass sample.Hello\n", tmp_path / "svc.exe", *args)
    data = out.read_bytes()
    strings = pe_string_block(data, 17)
    assert strings[:4] == list(texts.values())
    assert strings[4:] == pe_string_block(STUB_WIN.read_bytes(), 17)[4:]
    block, _, _, archive, _ = parse_payload(data)
    assert block == b"\xef\xbb\xbfmainclass sample.Hello\r\n\0"
    assert archive == hello_jar.read_bytes()
    # Defaults: the name comes from the output file, the display name from the name.
    plain = qlxtest.wrap(STUB_WIN, hello_jar, "mainclass sample.Hello\n", tmp_path / "MyTool.EXE")
    assert pe_string_block(plain.read_bytes(), 17)[:4] == ["MyTool", "MyTool", "", ""]
    # Texts beyond the room the stub reserves are refused, not truncated.
    result = qlxwrap("--stub", STUB_WIN, "--jar", hello_jar, "-o", tmp_path / "big.exe",
                     "--description", "x" * 5000)
    assert result.returncode == 6 and "bytes" in result.stderr
    assert not (tmp_path / "big.exe").exists()


WIN_QLXWRAP = BUILD_WIN / "tools" / "qlxwrap.exe"


@pytest.mark.skipif(not (WIN_QLXWRAP.exists() and STUB_WIN.exists()), reason="qlxwrap.exe not built")
def test_windows_build_of_qlxwrap_writes_the_same_bytes(tmp_path, hello_jar):
    qlxtest.start_wine_session()
    cfg = tmp_path / "app.cfg"
    cfg.write_text("mainclass sample.Hello\n")
    shutil.copy(hello_jar, tmp_path / "app.jar")
    shutil.copy(STUB_WIN, tmp_path / "qlx.exe")
    common = ["--stub", "qlx.exe", "--jar", "app.jar", "--config", "app.cfg",
              "--service-name", "Same", "--display-name", "Caf\u00e9 \u20ac"]
    native = qlxwrap(*common, "-o", "native.exe", cwd=tmp_path)
    assert native.returncode == 0, native.stderr
    # Non-ASCII arguments reach the program only through a UTF-8 locale that exists.
    utf8 = {"LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"}
    wine = qlxtest.run_wine(WIN_QLXWRAP, *common, "-o", "viawine.exe", cwd=tmp_path, timeout=120,
                            env=utf8)
    assert wine.returncode == 0, wine.stderr
    assert (tmp_path / "viawine.exe").read_bytes() == (tmp_path / "native.exe").read_bytes()
    bad = qlxtest.run_wine(WIN_QLXWRAP, "--stub", "qlx.exe", "--jar", "app.cfg", "-o", "x.exe",
                           cwd=tmp_path, timeout=120)
    assert bad.returncode == 3 and not (tmp_path / "x.exe").exists()


@pytest.mark.skipif(not (STUB_WIN.exists() and shutil.which("osslsigncode") and shutil.which("openssl")),
                    reason="Windows launcher or signing tools missing")
def test_signed_program_still_passes_its_integrity_check(tmp_path, hello_jar):
    """Code signing rewrites the PE checksum and certificate entry and appends
    the certificate after the archive: the digest leaves exactly those out."""
    key, cert = tmp_path / "key.pem", tmp_path / "cert.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", str(key),
                    "-out", str(cert), "-subj", "/CN=qlx test", "-days", "2"],
                   check=True, capture_output=True, timeout=60)
    plain = qlxtest.wrap(STUB_WIN, hello_jar, "mainclass sample.Hello\n", tmp_path / "plain.exe")
    signed = tmp_path / "signed.exe"
    subprocess.run(["osslsigncode", "sign", "-certs", str(cert), "-key", str(key), "-in", str(plain),
                    "-out", str(signed)], check=True, capture_output=True, timeout=60)
    assert signed.stat().st_size > plain.stat().st_size
    damaged = tmp_path / "damaged.exe"
    data = bytearray(signed.read_bytes())
    data[plain.stat().st_size - 200] ^= 0x01  # inside the archive, before the certificate
    damaged.write_bytes(bytes(data))

    qlxtest.start_wine_session()
    ok = qlxtest.run_wine(signed, "/help", cwd=tmp_path)
    assert ok.returncode == 0, ok.stdout + ok.stderr
    assert b"Use /install to install service." in ok.stdout
    bad = qlxtest.run_wine(damaged, "/help", cwd=tmp_path)
    assert bad.returncode == 9, bad.stdout + bad.stderr


def test_service_options_on_a_linux_stub_are_noted_and_ignored(tmp_path, fake_stub, hello_jar):
    plain, noted = tmp_path / "plain", tmp_path / "noted"
    assert qlxwrap("--stub", fake_stub, "--jar", hello_jar, "-o", plain).stderr == ""
    result = qlxwrap("--stub", fake_stub, "--jar", hello_jar, "-o", noted, "--service-name", "x",
                     "--description", "y")
    assert result.returncode == 0
    assert result.stderr.startswith("qlxwrap: note:") and len(result.stderr.splitlines()) == 1
    assert noted.read_bytes() == plain.read_bytes()


def test_merge_copies_entries_written_with_data_descriptors(tmp_path, fake_stub, hello_jar):
    """The JDK's jar tool streams entries (sizes in a data descriptor after
    the data): merged raw, they must stay readable by the JVM."""
    classes = hello_jar.parent / (hello_jar.stem + "-classes")
    tool_jar = tmp_path / "tool.jar"
    subprocess.run([str(JDK / "bin" / "jar"), "cf", str(tool_jar), "-C", str(classes), "."],
                   check=True, timeout=60)
    assert any(i.flag_bits & 0x08 for i in zipfile.ZipFile(tool_jar).infolist())
    app = qlxtest.make_jar(tmp_path / "app.jar", {"app.txt": b"application"})
    out = tmp_path / "app.bin"
    result = qlxwrap("--stub", fake_stub, "--jar", app, "--merge", tool_jar, "-o", out)
    assert result.returncode == 0, result.stderr
    with zipfile.ZipFile(out) as z:
        assert z.testzip() is None
        assert z.read("app.txt") == b"application"
    run = subprocess.run([str(JDK / "bin" / "java"), "-cp", str(out), "sample.Hello"],
                         capture_output=True, text=True, timeout=60)
    assert run.returncode == 0 and "Hello from a wrapped" in run.stdout, run.stderr


def test_support_archive_is_found_beside_qlxwrap(tmp_path, fake_stub, hello_jar):
    alone = tmp_path / "alone"
    alone.mkdir()
    shutil.copy(QLXWRAP, alone / "qlxwrap")
    missing = subprocess.run([str(alone / "qlxwrap"), "--stub", str(fake_stub), "--jar", str(hello_jar),
                              "--config", str(MAIN_CFG), "--support", "-o", str(tmp_path / "x")],
                             capture_output=True, text=True, cwd=alone, timeout=60)
    assert missing.returncode == 2 and "qlx-support.jar" in missing.stderr
    qlxtest.make_jar(alone / "qlx-support.jar", {"com/tarnwick/qlx/Instances.class": b"stand-in"})
    found = subprocess.run([str(alone / "qlxwrap"), "--stub", str(fake_stub), "--jar", str(hello_jar),
                            "--config", str(MAIN_CFG), "--support", "-o", str(tmp_path / "x")],
                           capture_output=True, text=True, cwd=tmp_path, timeout=60)
    assert found.returncode == 0, found.stderr
    assert "com/tarnwick/qlx/Instances.class" in zipfile.ZipFile(tmp_path / "x").namelist()
