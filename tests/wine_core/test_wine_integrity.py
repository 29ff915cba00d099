"""A wrapped file must be the one the generator wrote: any changed byte ends
the run with message 9, and a file without a usable payload is refused with
message 14 before anything else happens."""
import shutil

import pytest

import qlxtest
from core_support import MSG_MODIFIED, USAGE

MSG_DAMAGED = b"This program file is damaged or incomplete: "


def _flip(path, offset):
    data = bytearray(path.read_bytes())
    data[offset] ^= 0x20
    path.write_bytes(bytes(data))


def _offsets(app, jar):
    data = app.exe.read_bytes()
    jar_start = len(data) - len(jar.read_bytes())
    return {
        "image": data.index(b"This program cannot be run in DOS mode"),
        "image-resource": data.index("Service type".encode("utf-16-le")),
        "config": data.index(b"padding-line"),
        "digest": jar_start - 16 + 7,
        "archive": jar_start + 40,
        "archive-end": len(data) - 10,
    }


def test_unchanged_file_runs(make_app):
    app = make_app("padding-line x\n")
    result = app.run("/help")
    assert (result.returncode, result.stdout) == (0, USAGE)


@pytest.mark.parametrize("region", ["image", "image-resource", "config", "digest", "archive",
                                    "archive-end"])
def test_any_changed_byte_is_refused_with_9(make_app, empty_jar, region):
    app = make_app("padding-line x\n")
    _flip(app.exe, _offsets(app, empty_jar)[region])
    result = app.run("/help")
    assert result.returncode == 9
    # Standard error already goes to its log; the console sees it on stdout.
    assert result.stdout.strip() == MSG_MODIFIED
    assert MSG_MODIFIED in app.stderr_log.read_bytes()


def test_bare_stub_is_refused_with_14(tmp_path):
    exe = tmp_path / "bare.exe"
    shutil.copy(qlxtest.STUB_WIN, exe)
    result = qlxtest.run_wine(exe, "/help", cwd=tmp_path)
    assert result.returncode == 14
    for stream in (result.stdout, result.stderr):
        assert stream.startswith(MSG_DAMAGED), stream
        assert stream.count(b"\n") == 1
    # Refused before any redirection: no log beside the file.
    assert not (tmp_path / "bare.exe.stderr.log").exists()


@pytest.mark.parametrize("cut", ["last-byte", "half-archive", "inside-config", "image-only"])
def test_truncated_file_is_refused_with_14(make_app, empty_jar, cut):
    app = make_app("padding-line x\n")
    data = app.exe.read_bytes()
    jar_length = len(empty_jar.read_bytes())
    keep = {
        "last-byte": len(data) - 1,
        "half-archive": len(data) - jar_length // 2,
        "inside-config": data.index(b"padding-line") + 4,
        # The wrapped image is larger than the stub: qlxwrap rebuilds its resources.
        "image-only": data.index(b"padding-line") - 3,
    }[cut]
    app.exe.write_bytes(data[:keep])
    result = app.run("/help")
    assert result.returncode == 14, result
    assert result.stdout.startswith(MSG_DAMAGED)
    assert result.stdout.rstrip().endswith(b".")


def test_damaged_block_length_is_refused_with_14(make_app, empty_jar):
    app = make_app("padding-line x\n")
    data = bytearray(app.exe.read_bytes())
    length_field = len(data) - len(empty_jar.read_bytes()) - 20
    data[length_field:length_field + 4] = (0x7FFFFFF0).to_bytes(4, "little")
    app.exe.write_bytes(bytes(data))
    result = app.run("/help")
    assert result.returncode == 14
    assert result.stdout.startswith(MSG_DAMAGED)


def test_binary_debug_dumps_the_archive_length_slot(make_app, empty_jar):
    app = make_app("")
    result = app.run("/help", env={"_BROVANE_BINARY_DEBUG_": ""})
    assert result.returncode == 0
    dump, rest = result.stdout.split(b"\r\n", 1)
    assert len(dump) == 22
    # Slot: 8 length bytes (control bytes shown as '.'), the marker, its NUL.
    length = len(empty_jar.read_bytes()).to_bytes(8, "little")
    shown = bytes(b if b >= 0x20 else ord(".") for b in length)
    assert dump == shown + b"qlx:arclen:v1."
    assert rest == USAGE


def test_no_dump_without_the_debug_switch(make_app):
    app = make_app("")
    assert app.run("/help").stdout == USAGE
