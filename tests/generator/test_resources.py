"""The resources qlxwrap writes into Windows programs (icon, version
information, manifest), read back under Wine through the Win32 APIs, and
qlxwrap --inspect on intact, modified, cut, bare and signed files."""
import shutil
import struct
import subprocess
import zlib

import pytest

import qlxtest
from qlxtest import QLXWRAP, STUB_WIN

HELLO_SRC = qlxtest.ROOT / "tests" / "apps" / "hello"
PROBE_SRC = qlxtest.ROOT / "tests" / "generator" / "resource_probe.c"

pytestmark = pytest.mark.skipif(not (QLXWRAP.exists() and STUB_WIN.exists()),
                                reason="qlxwrap or the Windows launcher not built")


def png(size):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + bytes([200, 30, 30, 255]) * size for _ in range(size))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def dib(size):
    mask_row = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + bytes([30, 200, 30, 255]) * size * size + bytes(mask_row * size)


def ico(images):
    """A multi-size .ico: (size, image bytes) pairs, 256 written as 0."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    body = b""
    for size, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
        body += data
    return out + body


def inspect(path):
    result = subprocess.run([str(QLXWRAP), "--inspect", str(path)], capture_output=True, text=True,
                            timeout=60)
    return result.returncode, result.stdout


def test_icon_version_and_manifest_read_back_under_wine(tmp_path):
    qlxtest.require_avian()
    jar = qlxtest.compile_java(HELLO_SRC, tmp_path / "hello.jar",
                               bootclasspath=qlxtest.AVIAN / "classpath.jar")
    icon = tmp_path / "app.ico"
    icon.write_bytes(ico([(16, dib(16)), (32, dib(32)), (48, dib(48)), (256, png(256))]))
    options = ["--icon", icon, "--file-version", "2.5.0.17", "--company", "Tarnwick \u00c5B",
               "--product-name", "Demo", "--file-description", "Demo tool",
               "--copyright", "\u00a9 2026 Tarnwick", "--execution-level", "highestAvailable",
               "--utf8-codepage"]
    out = qlxtest.wrap(STUB_WIN, jar, "mainclass sample.Hello\n" + qlxtest.avian_config(),
                       tmp_path / "Demo.exe", *options)
    qlxtest.start_wine_session()
    probe = qlxtest.compile_windows_helper(PROBE_SRC, tmp_path, libs=("version", "gdi32"))
    found = qlxtest.run_wine(probe, qlxtest.wine_path(out), cwd=tmp_path)
    assert found.returncode == 0, found.stderr
    values = dict(line.split("=", 1) for line in found.stdout.decode().splitlines())
    assert values == {
        "fixed": "2.5.0.17", "translation": "040904b0", "CompanyName": "Tarnwick \u00c5B",
        "FileDescription": "Demo tool", "FileVersion": "2.5.0.17", "InternalName": "Demo",
        "LegalCopyright": "\u00a9 2026 Tarnwick", "OriginalFilename": "Demo.exe",
        "ProductName": "Demo", "ProductVersion": "2.5.0.17",
        "icon16": "16x16", "icon32": "32x32", "icon48": "48x48", "icon256": "256x256",
        "manifest": values["manifest"], "level": "highestAvailable", "utf8": "yes"}
    # The rebuilt image still loads and runs its application, and reports itself.
    run = qlxtest.run_wine(out, "/test", "x", cwd=tmp_path, timeout=120)
    assert run.returncode == 0 and b"Hello" in run.stdout, run.stdout + run.stderr
    code, text = inspect(out)
    assert code == 0, text
    for expected in ["digest:             intact", "icon sizes:         16x16 32x32 48x48 256x256",
                     "  OriginalFilename: Demo.exe", "manifest:           present, "
                     "highestAvailable, UTF-8 code page", "service name:       Demo"]:
        assert expected in text, text

    # Not an icon: one line, its own exit code, nothing written.
    bad = subprocess.run([str(QLXWRAP), "--stub", STUB_WIN, "--jar", jar, "-o", tmp_path / "x.exe",
                          "--icon", PROBE_SRC], capture_output=True, text=True, timeout=60)
    assert bad.returncode == 7 and len(bad.stderr.splitlines()) == 1, bad.stderr
    assert not (tmp_path / "x.exe").exists()


def test_inspect_tells_intact_from_damaged_files(tmp_path):
    jar = qlxtest.compile_java(HELLO_SRC, tmp_path / "hello.jar")
    good = qlxtest.wrap(STUB_WIN, jar, "mainclass sample.Hello\ndisableexternal true\n",
                        tmp_path / "good.exe")
    data = good.read_bytes()
    files = {"modified.exe": data[:-300] + bytes([data[-300] ^ 1]) + data[-299:],
             "cut.exe": data[:-40], "bare.exe": STUB_WIN.read_bytes(), "junk.exe": b"MZ" + bytes(99)}
    for name, content in files.items():
        (tmp_path / name).write_bytes(content)
    (tmp_path / "good.exe.cfg").write_text("option -Xmx1g\n")
    key, cert = tmp_path / "key.pem", tmp_path / "cert.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", str(key),
                    "-out", str(cert), "-subj", "/CN=qlx test", "-days", "2"],
                   check=True, capture_output=True, timeout=60)
    subprocess.run(["osslsigncode", "sign", "-certs", str(cert), "-key", str(key), "-in", str(good),
                    "-out", str(tmp_path / "signed.exe")], check=True, capture_output=True, timeout=60)
    cases = [
        ("good.exe", 0, ["digest:             intact", "signature:          none",
                         "ignored: disableexternal", "  | mainclass sample.Hello"]),
        ("signed.exe", 0, ["digest:             intact", "signature:          present"]),
        ("modified.exe", 10, ["digest:             modified"]),
        ("cut.exe", 11, ["payload:            none"]),
        ("bare.exe", 11, ["payload:            none", "icon sizes:"]),
        ("junk.exe", 11, ["payload:            none", "format:"]),
        ("missing.exe", 2, []),
    ]
    for name, code, expected in cases:
        got, text = inspect(tmp_path / name)
        assert got == code, (name, text)
        assert all(e in text for e in expected), (name, text)
