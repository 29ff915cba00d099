"""Loading the VM library under Wine: a runtime whose jvm.dll needs a
library from the runtime directory, the _Impl creation entry, a creation
that fails, files that are not a usable VM library, and no runtime at all."""
import pytest

import qlxtest
from wine_vm_support import place_double, same_path, win

NOT_FOUND = "Java Runtime Environment not found."
NOT_VALID = "Java Runtime Environment not valid."
START_FAILED = "Java Virtual Machine starts failed."
BASE = "mainclass sample.Main\njvmdll rt\\bin\\client\\jvm.dll\njre_order c\n"


@pytest.fixture
def runtime(tmp_path):
    """The library path the configuration BASE names."""
    return tmp_path / "app" / "rt" / "bin" / "client" / "jvm.dll"


def test_dependency_found_in_the_runtime_directory(make_app, runtime):
    place_double(runtime, "jvm_dep")
    place_double(runtime.parent.parent / "jvmdep.dll", "jvmdep")
    r = make_app(BASE).run("/test", env={"QLX_JVM_LOG_ENV": "PATH"})
    assert r.returncode == 0, r.explain()
    assert same_path(r.library, runtime)
    assert "dependency 42" in r.log
    # Found on the first attempt, through the DLL directory: PATH untouched.
    path = r.lines("env PATH=")[0]
    assert not path.lower().endswith(win(runtime.parent.parent).lower())


def test_dependency_missing_everywhere_is_a_load_failure(make_app, runtime):
    place_double(runtime, "jvm_dep")
    r = make_app(BASE).run("/test")
    assert r.returncode == 2, r.explain()
    assert r.log == []
    assert r.stdout == NOT_VALID + "\n"
    # The system's text first (it names the library), then the message.
    assert r.stderr_log.endswith("\n" + NOT_VALID + "\n")
    assert r.stderr_log.strip() != NOT_VALID


def test_impl_entry_is_used_when_the_standard_one_is_missing(make_app, runtime):
    place_double(runtime, "jvm_impl")
    r = make_app(BASE).run("/test", "x")
    assert r.returncode == 0, r.explain()
    assert r.log[0] == "entry JNI_CreateJavaVM_Impl"
    assert "main arg=x" in r.log


def test_standard_entry_is_preferred(make_app, runtime):
    place_double(runtime, "jvm")
    r = make_app(BASE).run("/test")
    assert r.returncode == 0, r.explain()
    assert r.log[0] == "entry JNI_CreateJavaVM"


def test_failing_creation(make_app, runtime):
    place_double(runtime, "jvm_fail")
    r = make_app(BASE).run("/test", "x")
    assert r.returncode == 4, r.explain()
    assert r.stdout == START_FAILED + "\n"
    # What the VM printed comes before the launcher's message.
    assert r.stderr_log == ("Error: jvmdouble refuses to create the virtual machine.\n"
                            + START_FAILED + "\n")
    assert "create failed" in r.log
    assert not any(line.startswith("findClass") for line in r.log)


@pytest.mark.parametrize("content", [b"not a library\r\n", b"MZ" + b"\0" * 200, b""])
def test_file_that_is_not_a_library(make_app, runtime, content):
    runtime.parent.mkdir(parents=True)
    runtime.write_bytes(content)
    r = make_app(BASE).run("/test")
    assert r.returncode == 2, r.explain()
    assert r.stdout == NOT_VALID + "\n"
    # The system's error text with the library path in place of %1, an empty
    # line (the text ends in a line break), then the message; stderr only.
    report, message = r.stderr_log.rsplit("\n\n", 1)
    assert message == NOT_VALID + "\n"
    assert report.strip(), r.explain()
    assert "%1" not in report


def test_system_text_names_the_library(make_app, runtime):
    runtime.parent.mkdir(parents=True)
    runtime.write_bytes(b"not a library")
    r = make_app(BASE).run("/test")
    assert r.returncode == 2, r.explain()
    # Wine's text for ERROR_BAD_EXE_FORMAT carries the %1 insert.
    assert "rt\\bin\\client\\jvm.dll" in r.stderr_log, r.explain()
    # Its own line break and the report's newline make clean line ends.
    raw = (runtime.parents[3] / "app.exe.stderr.log").read_bytes()
    assert b"\r\r" not in raw and raw.endswith(b".\r\n\r\n" + NOT_VALID.encode() + b"\r\n"), raw


def test_library_without_a_creation_entry(make_app, runtime):
    place_double(runtime, "jvmdep")
    r = make_app(BASE).run("/test")
    assert r.returncode == 2, r.explain()
    assert r.stdout == NOT_VALID + "\n"
    assert r.stderr_log == NOT_VALID + "\n"


def test_no_runtime(make_app, tmp_path):
    # Every source but the registry, which belongs to the whole prefix.
    r = make_app("mainclass sample.Main\njre_order cbe\n").run("/test")
    assert r.returncode == 1, r.explain()
    assert r.stdout == NOT_FOUND + "\n"
    assert r.stderr_log == NOT_FOUND + "\n"
    assert r.log == []


def test_missing_native_is_an_unsatisfied_link_error(make_app, runtime):
    # A script action calling an export the executable does not have fails
    # the way a real VM would; main ends with that exception, so the run
    # ends with 1 once the VM is destroyed.
    place_double(runtime, "jvm")
    r = make_app(BASE).run("/test", script="native Java_no_Such_method")
    assert r.returncode == 1, r.explain()
    assert 'Exception in thread "main" java.lang.UnsatisfiedLinkError' in r.stderr_log


def test_script_calls_an_exported_native(make_app, runtime):
    # The double reaches the executable's JNI exports the way a VM binds a
    # native method: the RedirOutputStream native writes one byte to the
    # handle held in the object's field h.
    place_double(runtime, "jvm")
    obj = "this:com/tarnwick/qlx/RedirOutputStream,h=$stdout"
    r = make_app(BASE).run("/test", script=f"native Java_com_tarnwick_qlx_RedirOutputStream_write "
                                           f"{obj} 65;print !")
    assert r.returncode == 0, r.explain()
    assert r.stdout == "A!\n"
    assert "native Java_com_tarnwick_qlx_RedirOutputStream_write call" in r.log
    assert "getField h J" in r.log


@pytest.mark.parametrize("slot, name", [(5, "DefineClass"), (229, "NewDirectByteBuffer")])
def test_double_refuses_unimplemented_jni_functions_loudly(make_app, runtime, slot, name):
    place_double(runtime, "jvm")
    r = make_app(BASE).run("/test", script=f"jni-slot {slot}")
    assert r.returncode == 97, r.explain()
    assert f"jvmdouble: unimplemented JNI function {slot} ({name})" in r.stderr_log


def test_library_at_the_root_of_a_drive(make_app, tmp_path):
    # One separator only: the runtime directory is the drive itself, handed
    # to the loader as its root; "C:" alone would be the working directory.
    drive_c = qlxtest.WINEPREFIX / "drive_c"
    lib = drive_c / f"qlx-vmwin-{tmp_path.name}.dll"
    place_double(lib, "jvm")
    try:
        r = make_app(f"mainclass sample.Main\njvmdll C:\\{lib.name}\njre_order c\n").run(
            "/test", env={"QLX_JVM_LOG_DLLDIR": "1", "QLX_JVM_LOG_ENV": "PATH"})
        assert r.returncode == 0, r.explain()
        assert r.library.lower() == f"c:\\{lib.name}".lower()
        assert [d.lower() for d in r.lines("dlldir ")] == ["c:\\"]
        assert not r.lines("env PATH=")[0].lower().endswith(";c:")
    finally:
        lib.unlink()
