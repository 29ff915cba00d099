"""qlx-wrap.jar on its own: Java 8 class files, runs on JDK 17 and Java 25,
the stubs it carries are the build's own, one version number with qlxwrap,
and a 200 MB archive streams through it in a small heap."""
import hashlib
import os
import re
import subprocess
import zipfile
from pathlib import Path

import pytest

import qlxtest
from qlxtest import QLXWRAP, QLX_WRAP_JAR, JDK, STUB_WIN, STUB_LINUX

pytestmark = pytest.mark.skipif(not (QLX_WRAP_JAR.exists() and QLXWRAP.exists()),
                                reason="qlx-wrap.jar or qlxwrap not built (tools/build-all.sh)")


def java(*args, home=JDK, heap=None, cwd=None):
    options = [f"-Xmx{heap}"] if heap else []
    return subprocess.run([str(Path(home) / "bin" / "java"), *options, "-jar", str(QLX_WRAP_JAR), *map(str, args)],
                          capture_output=True, timeout=300, cwd=cwd)


@pytest.fixture(scope="module")
def hello(tmp_path_factory):
    folder = tmp_path_factory.mktemp("hello")
    jar = qlxtest.compile_java(qlxtest.ROOT / "tests" / "apps" / "hello", folder / "hello.jar")
    cfg = folder / "hello.cfg"
    cfg.write_text("mainclass sample.Hello\nargv first\n")
    return jar, cfg


def test_every_class_is_java_8_and_the_jar_carries_this_build():
    with zipfile.ZipFile(QLX_WRAP_JAR) as z:
        names = z.namelist()
        classes = [n[:-6].replace("/", ".") for n in names if n.endswith(".class")]
        assert z.read("com/tarnwick/qlx/wrap/stub/qlx.exe") == STUB_WIN.read_bytes()
        assert z.read("com/tarnwick/qlx/wrap/stub/qlx") == STUB_LINUX.read_bytes()
        assert z.read("com/tarnwick/qlx/wrap/qlx-support.jar") == qlxtest.SUPPORT_JAR.read_bytes()
        assert "Main-Class: com.tarnwick.qlx.wrap.Main" in z.read("META-INF/MANIFEST.MF").decode()
    assert len(classes) >= 20
    javap = subprocess.run([str(JDK / "bin" / "javap"), "-v", "-cp", str(QLX_WRAP_JAR), *classes],
                           capture_output=True, text=True, timeout=300)
    assert javap.returncode == 0, javap.stderr
    majors = re.findall(r"major version: (\d+)", javap.stdout)
    assert len(majors) == len(classes) and set(majors) == {"52"}, sorted(set(majors))
    # Nothing but the JDK: no class refers to a package outside java.* and the jar's own.
    foreign = set(re.findall(r"= Class\s+\S+\s+// \"?\[*L?((?!java/|com/tarnwick/qlx/wrap/)[a-z]\w*/[\w/$]+)",
                             javap.stdout))
    assert not foreign, foreign


def test_one_version_number_for_every_tool():
    version = (qlxtest.ROOT / "VERSION").read_text().strip()
    assert re.fullmatch(r"\d+\.\d+\.\d+", version)
    native = subprocess.run([str(QLXWRAP), "--version"], capture_output=True, text=True)
    assert native.stdout == f"qlxwrap {version}\n"
    assert java("--version").stdout.decode() == f"qlx-wrap {version}\n"


def test_help_names_every_option_of_qlxwrap():
    native = subprocess.run([str(QLXWRAP), "--help"], capture_output=True, text=True).stdout
    mine = java("--help").stdout.decode()
    options = set(re.findall(r"^  (-\w|--[\w-]+)", native, re.M)) | set(re.findall(r", (--[\w-]+)", native))
    assert options and {o for o in options if o not in mine} == set()
    assert "--platform" in mine
    codes = re.findall(r"^  (\d+) ", native, re.M)
    assert codes and all(f"\n  {c} " in mine for c in codes)


@pytest.mark.parametrize("jdk", ["17", "25"])
def test_built_in_stubs_give_what_qlxwrap_writes_with_them(tmp_path, hello, jdk):
    home = JDK
    if jdk == "25":
        qlxtest.require_jdk25()
        home = qlxtest.JDK25
    jar, cfg = hello
    cases = [([], STUB_WIN, "app.exe", ["--service-name", "Svc", "--support"]),
             (["--platform", "linux"], STUB_LINUX, "app", []),
             (["--platform=windows"], STUB_WIN, "tool.exe", ["--icon", "/nonexistent.ico"])]
    for platform, stub, name, extra in cases:
        (tmp_path / "n").mkdir(exist_ok=True)
        (tmp_path / "j").mkdir(exist_ok=True)
        native = subprocess.run([str(QLXWRAP), "--stub", str(stub), "--jar", str(jar), "--config", str(cfg),
                                 "-o", str(tmp_path / "n" / name), *extra], capture_output=True)
        mine = java(*platform, "--jar", jar, "--config", cfg, "-o", tmp_path / "j" / name, *extra, home=home)
        assert (mine.returncode, mine.stderr) == (native.returncode, native.stderr), (platform, mine.stderr)
        if native.returncode == 0:
            assert (tmp_path / "j" / name).read_bytes() == (tmp_path / "n" / name).read_bytes(), platform
            assert (tmp_path / "j" / name).stat().st_mode & 0o777 == 0o755
    # The Linux program runs its application on HotSpot.
    run = qlxtest.run_native(tmp_path / "j" / "app", "/test", "x", env={"JAVA_HOME": str(home)})
    assert run.returncode == 0, run.stderr
    assert "  [0] first" in run.stdout.decode() and "  [1] x" in run.stdout.decode()
    for bad, message in ((["--platform", "mac"], "--platform must be windows or linux"),
                         (["--platform", "linux", "--stub", STUB_LINUX], "not both")):
        result = java(*bad, "--jar", jar, "-o", tmp_path / "x", home=home)
        assert result.returncode == 1 and message in result.stderr.decode()


def peak_kib(command):
    """Runs `command`; returns (exit code, its peak resident memory in KiB)."""
    probe = ("import resource, subprocess, sys\n"
             "code = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL).returncode\n"
             "print(code, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)\n")
    out = subprocess.run(["/usr/bin/python3", "-c", probe, *map(str, command)], capture_output=True, text=True,
                         timeout=600)
    code, kib = out.stdout.split()
    return int(code), int(kib)


def big_jar(path, megabytes):
    """An archive of incompressible stored entries, 10 MB each."""
    chunk = os.urandom(1 << 20)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as z:
        for n in range(megabytes // 10):
            with z.open(f"data/blob{n:03}.bin", "w") as entry:
                for k in range(10):
                    entry.write(chunk[k:] + chunk[:k])
    return path


def test_a_200_mb_archive_streams_in_a_48_mb_heap(tmp_path, hello):
    jar = big_jar(tmp_path / "big.jar", 200)
    cfg = hello[1]
    (tmp_path / "j").mkdir()
    (tmp_path / "n").mkdir()
    out_java, out_native = tmp_path / "j" / "big.exe", tmp_path / "n" / "big.exe"
    code, java_kib = peak_kib([JDK / "bin" / "java", "-Xmx48m", "-jar", QLX_WRAP_JAR, "--jar", jar, "--config",
                               cfg, "-o", out_java, "--support"])
    assert code == 0
    code, native_kib = peak_kib([QLXWRAP, "--stub", STUB_WIN, "--jar", jar, "--config", cfg, "-o", out_native,
                                 "--support"])
    assert code == 0
    digest = lambda p: hashlib.sha256(p.read_bytes()).hexdigest()
    assert digest(out_java) == digest(out_native)
    # qlxwrap holds the archive (and the output) in memory; the Java generator does not.
    assert native_kib > 400 * 1024 and java_kib < 200 * 1024, (java_kib, native_kib)
    check = java("--inspect", out_java, heap="48m")
    assert check.returncode == 0 and b"digest:             intact" in check.stdout


def test_inspect_names_the_external_file_the_launcher_would_read(tmp_path, hello):
    """Relative names, some starting with n, beside which a .cfg or .config may lie: both generators say
    which file the launcher would read and whether disableexternal keeps it out."""
    jar, _ = hello
    cases = [  # program, embedded configuration, file beside it, expected "external config:" value
        ("nested.exe", "mainclass a.B\n", None, "none beside the file"),
        ("nested.exe", "mainclass a.B\n", "nested.exe.cfg", "nested.exe.cfg (would be read)"),
        ("nested.exe", "mainclass a.B\ndisableexternal true\n", "nested.exe.cfg", "nested.exe.cfg (ignored: disableexternal)"),
        ("nested.exe", "mainclass a.B\ndisableexternal TRUE\n", None, "disabled (disableexternal)"),
        ("new.exe", "mainclass a.B\ndisableexternal true\n", "new.config", "new.config (ignored: disableexternal)"),
        ("app.exe", "disableexternal false\nmainclass a.B\n", "app.exe.config", "app.exe.config (would be read)"),
    ]
    for n, (program, config, beside, expected) in enumerate(cases):
        folder = tmp_path / str(n)
        folder.mkdir()
        (folder / "app.cfg.src").write_text(config)
        subprocess.run([str(QLXWRAP), "--stub", str(STUB_WIN), "--jar", str(jar), "--config", "app.cfg.src",
                        "-o", program], cwd=folder, check=True, capture_output=True)
        if beside:
            (folder / beside).write_text("minjre 17\n")
        native = subprocess.run([str(QLXWRAP), "--inspect", program], cwd=folder, capture_output=True, text=True)
        mine = java("--inspect", program, cwd=folder)
        line = next(l for l in native.stdout.splitlines() if l.startswith("external config:"))
        assert line == f"external config:    {expected}", (program, config, beside)
        assert mine.stdout.decode() == native.stdout and mine.returncode == native.returncode == 0


def test_instancefilter_grammar_is_the_receivers(tmp_path):
    """The grammar's shared table (the receiver's and qlxwrap's tests read it too): the Java generator gives
    each filter the same problem, and its configuration check refuses exactly the filters with one (an empty
    value is never checked: the launcher takes it as unset)."""
    classes = tmp_path / "classes"
    subprocess.run([str(JDK / "bin" / "javac"), "-d", str(classes), "-cp", str(QLX_WRAP_JAR),
                    str(Path(__file__).parent / "FilterGrammarCheck.java")], check=True, timeout=120)
    rows = []
    for line in (qlxtest.ROOT / "tests" / "data" / "instancefilter_grammar.tsv").read_text("utf-8").splitlines():
        if line and not line.startswith("#"):
            verdict, flt, problem = line.split("\t")
            rows.append((verdict, flt.replace("\\t", "\t"), problem))
    assert len(rows) > 20
    out = subprocess.run([str(JDK / "bin" / "java"), "-cp", f"{QLX_WRAP_JAR}:{classes}",
                          "com.tarnwick.qlx.wrap.FilterGrammarCheck", *(f for _, f, _ in rows)],
                         capture_output=True, text=True, timeout=60, encoding="utf-8")
    assert out.returncode == 0, out.stderr
    got = out.stdout.splitlines()
    assert len(got) == len(rows)
    for (verdict, flt, problem), line in zip(rows, got):
        checked = "error" if problem and flt.strip() else "ok"
        assert line == f"{problem}|{checked}", (flt, line)
        assert (verdict == "ok") == (problem == ""), flt
