"""qlx-wrap.jar against qlxwrap: the same command lines, run by both, must
give the same exit code, the same messages and the same bytes. A table of
cases names every feature and every failure; a seeded random run adds a few
hundred generated command lines (QLX_DIFF_SEED repeats one, QLX_DIFF_CASES
sets how many). All Java runs of a batch share one JVM."""
import os
import random
import shutil
import subprocess
from pathlib import Path

import pytest

import qlxtest
import wrap_inputs
from qlxtest import QLXWRAP, QLX_WRAP_JAR, JDK

HERE = Path(__file__).resolve().parent

pytestmark = pytest.mark.skipif(not (QLXWRAP.exists() and QLX_WRAP_JAR.exists() and qlxtest.STUB_WIN.exists()),
                                reason="qlxwrap, qlx-wrap.jar or qlx.exe not built (tools/build-all.sh)")


@pytest.fixture(scope="module")
def driver(tmp_path_factory):
    classes = tmp_path_factory.mktemp("driver")
    subprocess.run([str(JDK / "bin" / "javac"), "-d", str(classes), "-cp", str(QLX_WRAP_JAR),
                    str(HERE / "DiffDriver.java")], check=True, timeout=120)
    return classes


@pytest.fixture(scope="module")
def pool(tmp_path_factory):
    folder = tmp_path_factory.mktemp("pool")
    hello = qlxtest.compile_java(qlxtest.ROOT / "tests" / "apps" / "hello", folder / "build" / "hello.jar")
    return wrap_inputs.make_inputs(folder, hello)


class Case:
    """One command line; "{out}" stands for each tool's own output folder, "{config}" for the case's file."""

    def __init__(self, folder, name, args, config=None, beside=None):
        """`beside` is (file name, bytes): a file put into each tool's output folder first."""
        self.folder, self.name, self.template, self.config = Path(folder), name, list(map(str, args)), config
        self.folder.mkdir(parents=True)
        for tool in ("native", "java"):
            (self.folder / tool).mkdir()
            if beside is not None:
                (self.folder / tool / beside[0]).write_bytes(beside[1])
        if config is not None:
            (self.folder / "app.cfg").write_bytes(config)

    def args(self, tool):
        out = str(self.folder / tool)
        return [a.replace("{out}", out).replace("{config}", str(self.folder / "app.cfg")) for a in self.template]

    def outcome(self, tool, code, stdout, stderr):
        out = str(self.folder / tool)
        files = {p.name: (p.read_bytes(), p.stat().st_mode & 0o777) if p.is_file() else "folder"
                 for p in sorted((self.folder / tool).iterdir())}
        return {"code": code, "stdout": stdout.replace(out.encode(), b"{out}"),
                "stderr": stderr.replace(out.encode(), b"{out}"), "files": files}


def run_both(cases, driver, folder):
    """Runs every case with qlxwrap (one process each) and qlx-wrap.jar (one JVM for all)."""
    Path(folder).mkdir(parents=True, exist_ok=True)
    listing = Path(folder) / "cases.txt"
    listing.write_text("\n".join(str(c.folder) for c in cases) + "\n", encoding="utf-8")
    for c in cases:
        (c.folder / "args").write_bytes("\0".join(c.args("java")).encode())
    env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")
    java = subprocess.run([str(JDK / "bin" / "java"), "-cp", f"{QLX_WRAP_JAR}:{driver}", "DiffDriver",
                           str(listing)], capture_output=True, timeout=900, env=env)
    assert java.returncode == 0, java.stderr.decode(errors="replace")
    results = []
    for c in cases:
        native = subprocess.run([str(QLXWRAP), *c.args("native")], capture_output=True, timeout=60, env=env)
        mine = c.outcome("native", native.returncode, native.stdout, native.stderr)
        theirs = c.outcome("java", int((c.folder / "java.code").read_text()), (c.folder / "java.stdout").read_bytes(),
                           (c.folder / "java.stderr").read_bytes())
        results.append((c, mine, theirs))
    return results


def differences(results):
    lines = []
    for c, native, java in results:
        for field in ("code", "stdout", "stderr", "files"):
            if native[field] != java[field]:
                shown = (lambda v: {k: (len(b[0]), oct(b[1])) if isinstance(b, tuple) else b for k, b in v.items()}) \
                    if field == "files" else (lambda v: v)
                lines.append(f"{c.name}: {field} differs\n  args: {c.template}\n  qlxwrap:  {shown(native[field])!r}\n"
                             f"  qlx-wrap: {shown(java[field])!r}")
    return lines


def table(pool, folder):
    s, j, m, i, c = (pool[k] for k in ("stub", "jar", "merge", "icon", "config"))
    win, hello, main = s["qlx.exe"], j["hello.jar"], c["main.cfg"]
    base = ["--stub", win, "--jar", hello, "--config", main]
    out = "{out}/app.exe"
    rows = [
        ("windows program", [*base, "-o", out]),
        ("linux program", ["--stub", s["qlx"], "--jar", hello, "--config", main, "--output", "{out}/app"]),
        ("fake stub, service options noted", ["--stub", s["fake"], "--jar", hello, "--config", main,
                                              "-o", "{out}/app", "--service-name", "x", "--icon", i["app.ico"]]),
        ("service identity and settings",
         [*base, "-o", out, "--service-name", "Qlx Svc %1", "--display-name", "D\u00e9j\u00e0 vu \u20ac \U0001F600",
          "--description", "100% C:\\Temp", "--depends", "Tcpip/Dhcp", "--start-type", "delayed",
          "--account", "virtual", "--recovery", "60/3/86400", "--fail-on-exit", "no"]),
        ("default service name from the output", [*base, "-o", "{out}/MyTool.EXE"]),
        ("icon with PNG and DIB images", [*base, "-o", out, "--icon", i["app.ico"]]),
        ("one-image icon", [*base, "-o", out, "--icon=" + str(i["one.ico"])]),
        ("version texts with non-ASCII",
         [*base, "-o", out, "--file-version", "1.2.3.4", "--product-version", "2.0", "--company", "Tarnwick \u00e9",
          "--product-name", "Caf\u00e9 \u20ac \U0001F600", "--file-description", "\u202eright to left",
          "--copyright", "\u00a9 2026"]),
        ("product version only", [*base, "-o", out, "--product-version", "3.1"]),
        ("manifest", [*base, "-o", out, "--execution-level", "requireAdministrator", "--utf8-codepage"]),
        ("merge with duplicates and signature files",
         [*base, "-o", out, "--merge", m["lib.jar"], "--merge", m["lib2.jar"], "--merge", m["streamed.jar"]]),
        ("support classes", [*base, "-o", out, "--support"]),
        ("support and merge", [*base, "-o", out, "--support", "--merge", m["lib.jar"]]),
        ("archive with a comment", ["--stub", win, "--jar", j["comment.jar"], "--config", main, "-o", out]),
        ("archive with data descriptors", ["--stub", win, "--jar", j["streamed.jar"], "--config", main, "-o", out]),
        ("empty archive", ["--stub", win, "--jar", j["empty.zip"], "--config", main, "-o", out]),
        ("no configuration file", ["--stub", win, "--jar", hello, "-o", out]),
        ("no configuration, errors allowed", ["--stub", win, "--jar", hello, "-o", out, "--allow-config-errors"]),
        ("missing stub", ["--stub", "/nonexistent/qlx.exe", "--jar", hello, "--config", main, "-o", out]),
        ("stub is a folder", ["--stub", s["qlx.exe"].parent, "--jar", hello, "-o", out]),
        ("missing jar", ["--stub", win, "--jar", "relative/missing.jar", "-o", out]),
        ("missing config", ["--stub", win, "--jar", hello, "--config", "nope.cfg", "-o", out]),
        ("missing merge", [*base, "-o", out, "--merge", "/nonexistent.jar"]),
        ("missing icon", [*base, "-o", out, "--icon", "/nonexistent.ico"]),
        ("jar not a zip", ["--stub", win, "--jar", j["text.jar"], "--config", main, "-o", out]),
        ("jar truncated", ["--stub", win, "--jar", j["truncated.jar"], "--config", main, "-o", out]),
        ("jar with data in front", ["--stub", win, "--jar", j["prefixed.jar"], "--config", main, "-o", out]),
        ("jar with a damaged entry", ["--stub", win, "--jar", j["badlocal.jar"], "--config", main, "-o", out]),
        ("merge not a zip", [*base, "-o", out, "--merge", m["text.jar"]]),
        ("stub without slot", ["--stub", s["noslot"], "--jar", hello, "--config", main, "-o", out]),
        ("stub with two slots", ["--stub", s["twoslots"], "--jar", hello, "--config", main, "-o", out]),
        ("empty stub", ["--stub", s["empty"], "--jar", hello, "--config", main, "-o", out]),
        ("stub with damaged resources", ["--stub", s["damaged-resources.exe"], "--jar", hello, "--config", main,
                                         "-o", out]),
        ("output folder missing", [*base, "-o", "{out}/no/such/app.exe"]),
        ("output is a folder", [*base, "-o", "{out}"]),
        ("service name empty", [*base, "-o", out, "--service-name", ""]),
        ("service name too long", [*base, "-o", out, "--service-name", "\u00e9" * 128]),
        ("service name with a slash", [*base, "-o", out, "--service-name", "a\\b"]),
        ("service texts too long", [*base, "-o", out, "--description", "x" * 5000]),
        ("account not ASCII", [*base, "-o", out, "--account", "J\u00fcrgen"]),
        ("recovery unreadable", [*base, "-o", out, "--recovery", "60/0"]),
        ("recovery delay past a day", [*base, "-o", out, "--recovery", "86401/1"]),
        ("recovery count too large", [*base, "-o", out, "--recovery", "60/1024/60"]),
        ("recovery at its bounds", [*base, "-o", out, "--recovery", " 86400/1023/0 "]),
        ("recovery with four fields", [*base, "-o", out, "--recovery", "60/1/2/3"]),
        ("account one slip from a built-in", [*base, "-o", out, "--account", "LocalServce"]),
        ("account two slips from a built-in", [*base, "-o", out, "--account", "NetwrkServce"]),
        ("account three slips: a user", [*base, "-o", out, "--account", "NtwrkServce"]),
        ("built-in account in another case", [*base, "-o", out, "--account", "localservice"]),
        ("local user named like a built-in", [*base, "-o", out, "--account", ".\\LocalServce"]),
        ("main class from a deflated manifest", ["--stub", win, "--jar", j["manifest.jar"], "-o", out]),
        ("main class from the manifest, config without one",
         ["--stub", win, "--jar", j["manifest.jar"], "--config", c["nomain.cfg"], "-o", out]),
        ("empty mainclass line, main class from the manifest",
         ["--stub", win, "--jar", j["manifest.jar"], "--config", c["emptymain.cfg"], "-o", out]),
        ("configuration's main class before the manifest's",
         ["--stub", win, "--jar", j["manifest-missing.jar"], "--config", main, "-o", out]),
        ("stored manifest with a continuation line", ["--stub", win, "--jar", j["manifest-stored.jar"], "-o", out]),
        ("manifest names a class the JAR lacks", ["--stub", win, "--jar", j["manifest-missing.jar"], "-o", out]),
        ("main class in a version folder", ["--stub", win, "--jar", j["multirelease.jar"], "-o", out]),
        ("manifest main class with a control character",
         ["--stub", win, "--jar", j["manifest-controls.jar"], "-o", out]),
        ("manifest in lower case with LF lines", ["--stub", win, "--jar", j["manifest-lf.jar"], "-o", out]),
        ("manifest main class, errors allowed",
         ["--stub", win, "--jar", j["manifest-missing.jar"], "--config", c["errors.cfg"], "-o", out,
          "--allow-config-errors"]),
        ("main class only in a merged archive",
         ["--stub", win, "--jar", hello, "--config", c["mergedmain.cfg"], "-o", out, "--merge", m["lib2.jar"]]),
        ("main class in no archive", ["--stub", win, "--jar", hello, "--config", c["mergedmain.cfg"], "-o", out]),
        ("--strict and a clean configuration", [*base, "-o", out, "--strict"]),
        ("--strict and warnings", ["--stub", win, "--jar", hello, "--config", c["warnings.cfg"], "-o", out,
                                   "--strict"]),
        ("--strict and a main class in no archive",
         ["--strict", "--stub", win, "--jar", j["manifest-missing.jar"], "-o", out]),
        ("--strict and errors allowed", [*base, "-o", out, "--strict", "--allow-config-errors"]),
        ("--strict with a value", [*base, "-o", out, "--strict=yes"]),
        ("--check --strict with warnings", ["--check", c["external.cfg"], "--strict"]),
        ("--check --strict clean", ["--strict", "--check", main]),
        ("--check --strict with errors", ["--check=" + str(c["errors.cfg"]), "--strict"]),
        ("--check --strict with another option", ["--check", main, "--strict", "--support"]),
        ("start type unreadable", [*base, "-o", out, "--start-type", "sometimes"]),
        ("fail-on-exit unreadable", [*base, "-o", out, "--fail-on-exit", "none"]),
        ("file version too large", [*base, "-o", out, "--file-version", "70000"]),
        ("product version five numbers", [*base, "-o", out, "--product-version", "1.2.3.4.5"]),
        ("unknown option", [*base, "-o", out, "--frobnicate"]),
        ("option without value", [*base, "-o"]),
        ("flag with a value", [*base, "-o", out, "--support=yes"]),
        ("option given twice", [*base, "-o", out, "--company", "a", "--company", "b"]),
        ("file option given twice", [*base, "-o", out, "--jar", hello]),
        ("empty file name", [*base, "--output="]),
        ("empty merge name", [*base, "-o", out, "--merge="]),
        ("bad execution level", [*base, "-o", out, "--execution-level", "admin"]),
        ("no output", base),
        ("no jar", ["--stub", win, "-o", out]),
        ("--check with findings", ["--check", c["external.cfg"]]),
        ("--check with errors", ["--check", c["errors.cfg"]]),
        ("--check clean", ["--check", main]),
        ("--check of UTF-16", ["--check", c["utf16le.cfg"]]),
        ("--check of bad UTF-8", ["--check", c["latin1.cfg"]]),
        ("--check of a missing file", ["--check", "/nonexistent.cfg"]),
        ("--check with another option", ["--check", main, "--support"]),
        ("--inspect with another option", ["--inspect", main, "-o", out]),
    ]
    icons = [(f"icon {name}", [*base, "-o", out, "--icon", path]) for name, path in i.items()]
    configs = [(f"configuration {name}", ["--stub", win, "--jar", hello, "--config", path, "-o", out])
               for name, path in c.items()]
    allowed = [(f"configuration {name}, errors allowed",
                ["--stub", win, "--jar", hello, "--config", c[name], "-o", out, "--allow-config-errors"])
               for name in ("errors.cfg", "controls.cfg", "nomain.cfg", "warnings.cfg", "filters.cfg")]
    stubs = [(f"stub {name}", ["--stub", path, "--jar", hello, "--config", main, "-o", out])
             for name, path in s.items()]
    # A configuration source where the output reads its external file (app.cfg, app.exe.config beside
    # app.exe) is read twice; under another name, or in another case on Linux, it is not.
    text = main.read_bytes()
    beside = [
        ("configuration beside the output as app.cfg", ["--stub", win, "--jar", hello, "--config", "{out}/app.cfg",
                                                          "-o", out], ("app.cfg", text)),
        ("configuration beside the output as app.exe.config",
         ["--stub", win, "--jar", hello, "--config={out}/app.exe.config", "-o", out], ("app.exe.config", text)),
        ("configuration beside a program without a dot", ["--stub", s["qlx"], "--jar", hello, "--config",
                                                           "{out}/tool.cfg", "-o", "{out}/tool"], ("tool.cfg", text)),
        ("configuration beside the output in another case",
         ["--stub", win, "--jar", hello, "--config", "{out}/App.exe.cfg", "-o", out], ("App.exe.cfg", text)),
        ("configuration beside the output under another name",
         ["--stub", win, "--jar", hello, "--config", "{out}/app.src.cfg", "-o", out], ("app.src.cfg", text)),
        ("configuration beside the output, --strict",
         ["--stub", win, "--jar", hello, "--config", "{out}/app.cfg", "-o", out, "--strict"], ("app.cfg", text)),
    ]
    return [Case(Path(folder) / f"t{n:03}", row[0], row[1], beside=row[2] if len(row) > 2 else None)
            for n, row in enumerate(rows + icons + configs + allowed + stubs + beside)]


def inspect_targets(pool, folder):
    """Wrapped files to inspect: intact, modified, cut short, signed after wrapping, bare, not a program."""
    folder = Path(folder)
    folder.mkdir()
    s, hello, main = pool["stub"], pool["jar"]["hello.jar"], pool["config"]["main.cfg"]
    targets = {}

    def wrapped(name, stub, *extra, config=main):
        out = folder / name
        subprocess.run([str(QLXWRAP), "--stub", str(stub), "--jar", str(hello), "--config", str(config),
                        "-o", str(out), *extra], check=True, capture_output=True, timeout=60)
        targets[name] = out
        return out

    good = wrapped("good.exe", s["qlx.exe"], "--icon", str(pool["icon"]["app.ico"]), "--file-version", "1.2",
                   "--company", "Caf\u00e9", "--service-name", "Svc", "--recovery", "30")
    wrapped("linux", s["qlx"])
    wrapped("fake", s["fake"])
    wrapped("findings.exe", s["qlx.exe"], "--allow-config-errors", config=pool["config"]["controls.cfg"])
    data = good.read_bytes()
    for name, change in (("tampered-archive.exe", len(data) - 100), ("tampered-config.exe", data.index(b"mainclass")),
                         ("tampered-stub.exe", 0x400)):
        bad = bytearray(data)
        bad[change] ^= 0x20
        (folder / name).write_bytes(bytes(bad))
        targets[name] = folder / name
    for name, size in (("cut-archive.exe", len(data) - 10), ("cut-payload.exe", len(data) - 9000),
                       ("cut-stub.exe", 1000), ("empty", 0)):
        (folder / name).write_bytes(data[:size])
        targets[name] = folder / name
    (folder / "trailing.exe").write_bytes(data + b"appended after the archive" * 3000)
    targets["trailing.exe"] = folder / "trailing.exe"
    external = wrapped("external.exe", s["qlx.exe"])
    (folder / "external.exe.config").write_text("minjre 17\n")
    disabled = wrapped("disabled.exe", s["qlx.exe"], config=pool["config"]["external.cfg"])
    (folder / "disabled.cfg").write_text("minjre 17\n")
    wrapped("disabled-none.exe", s["qlx.exe"], config=pool["config"]["external.cfg"])
    if "signed.exe" in s:
        signed = folder / "signed-after.exe"
        subprocess.run(["osslsigncode", "sign", "-certs", str(s["signed.exe"].parent.parent / "cert.pem"),
                        "-key", str(s["signed.exe"].parent.parent / "key.pem"), "-in", str(good),
                        "-out", str(signed)], check=True, capture_output=True, timeout=60)
        targets["signed-after.exe"] = signed
        targets["signed stub"] = s["signed.exe"]
    targets["bare stub"] = s["qlx.exe"]
    targets["text"] = main
    targets["missing"] = folder / "missing.exe"
    targets["folder"] = folder
    del external, disabled
    return targets


def test_table_of_cases_gives_the_same_results(pool, driver, tmp_path):
    cases = table(pool, tmp_path / "table")
    for name, path in inspect_targets(pool, tmp_path / "inspected").items():
        cases.append(Case(tmp_path / "table" / f"i-{len(cases):03}", f"--inspect {name}", ["--inspect", path]))
    results = run_both(cases, driver, tmp_path)
    assert not differences(results), "\n".join(differences(results))
    # The table covers what it says: programs written, every failure code, every inspect code.
    codes = {native["code"] for _, native, _ in results}
    assert codes >= {0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 11}, codes
    written = [c.name for c, native, _ in results if native["code"] == 0 and native["files"]]
    assert len(written) >= 25, written
    notes = b"".join(native["stderr"] for _, native, _ in results if native["code"] == 0)
    for note in (b"was signed", b"not a Windows executable", b"warning: configuration line",
                 b"error (allowed): configuration", b"the Main-Class of the JAR's manifest, is used",
                 b"is in neither the JAR nor a merged archive", b"reaches the VM as written",
                 b"looks for its external configuration"):
        assert note in notes or (note == b"was signed" and "signed.exe" not in pool["stub"]), note
    said = b"".join(native["stderr"] for _, native, _ in results)
    for text in (b"is not valid: COUNT is 1 to 1023", b"error (--strict): configuration line", b"error (--strict): the configuration file",
                 b"is not valid: did you mean NetworkService?", b"is not valid: DELAY is at most 86400",
                 b"instancefilter 'srv**;!*' cannot be read: expected class patterns"):
        assert text in said, text


def test_randomised_command_lines_give_the_same_results(pool, driver, tmp_path):
    seed = int(os.environ.get("QLX_DIFF_SEED") or random.SystemRandom().randrange(1 << 30))
    count = int(os.environ.get("QLX_DIFF_CASES", "300"))
    rng = random.Random(seed)
    cases = []
    for n in range(count):
        args, config, beside = wrap_inputs.random_case(rng, pool)
        cases.append(Case(tmp_path / f"r{n:04}", f"random case {n}", args, config, beside))
    results = run_both(cases, driver, tmp_path)
    found = differences(results)
    assert not found, f"seed {seed} (QLX_DIFF_SEED={seed} repeats it):\n" + "\n".join(found[:20])
    # Then both read back what qlxwrap wrote.
    written = [native_case for native_case, native, _ in results if native["code"] == 0 and native["files"]]
    inspected = []
    for n, c in enumerate(written):
        target = next(p for p in (c.folder / "native").iterdir() if p.is_file())
        inspected.append(Case(tmp_path / f"ri{n:04}", f"--inspect of {c.name}", ["--inspect", target]))
    found = differences(run_both(inspected, driver, tmp_path / "inspect-listing"))
    assert not found, f"seed {seed}:\n" + "\n".join(found[:20])
    codes = [native["code"] for _, native, _ in results]
    print("exit codes of the random cases:", {k: codes.count(k) for k in sorted(set(codes))})
    assert codes.count(0) >= count // 5 and len(set(codes)) >= 5, (seed, sorted(set(codes)))
