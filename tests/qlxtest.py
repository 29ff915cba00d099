"""Shared helpers of the end-to-end suites: build outputs, wrapping, running
wrapped programs under Wine or natively, and small Java test archives.

Every suite imports this module (tests/conftest.py puts tests/ on sys.path).
"""
import os
import shutil
import subprocess
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD_HOST = Path(os.environ.get("QLX_BUILD_HOST", ROOT / "build" / "host"))
BUILD_WIN = Path(os.environ.get("QLX_BUILD_WIN", ROOT / "build" / "win"))
WINEPREFIX = Path(os.environ.get("QLX_WINEPREFIX", ROOT / "build" / "wineprefix"))
JDK = Path(os.environ.get("QLX_JDK_HOME", "/usr/lib/jvm/java-17-openjdk-amd64"))

QLXWRAP = BUILD_HOST / "tools" / "qlxwrap"
STUB_WIN = BUILD_WIN / "launcher" / "qlx.exe"
STUB_LINUX = BUILD_HOST / "launcher" / "qlx"


def wine_env(extra=None, lang="en_US.UTF-8"):
    env = dict(os.environ)
    env.update({"WINEPREFIX": str(WINEPREFIX), "WINEDEBUG": "-all", "LANG": lang, "LC_ALL": lang,
                "WINEDLLOVERRIDES": "mscoree,mshtml=", "DISPLAY": env.get("DISPLAY", "")})
    env.setdefault("HOME", "/root")
    if extra:
        env.update(extra)
    return env


def ensure_wineprefix():
    """Creates the private prefix once (about 10 s) and keeps a server running."""
    WINEPREFIX.mkdir(parents=True, exist_ok=True)
    if not (WINEPREFIX / "system.reg").exists():
        # No pipes: Wine's background services inherit them and keep them open.
        subprocess.run(["wineboot", "-i"], env=wine_env(), check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=180)
        # The prefix is finished in the background after wineboot returns; the
        # service manager started meanwhile loses what is registered with it.
        subprocess.run(["wineserver", "-w"], env=wine_env(), check=False, timeout=180)
    subprocess.run(["wineserver", "-p"], env=wine_env(), check=False, timeout=30)


def start_wine_session(*required):
    """Checks that the built files a suite needs exist, creates the prefix and
    starts Wine's background services. The first program of a fresh server
    starts them, and they inherit its standard streams and outlive it: started
    from a run whose output a test reads to its end they would hold the pipes
    open until the run times out, so they are started here with no pipes."""
    import pytest
    for path, what in required:
        if not Path(path).exists():
            pytest.fail(f"{what} is missing: {path} (build the host and Windows trees first)")
    ensure_wineprefix()
    subprocess.run(["wine", "cmd", "/c", "exit"], env=wine_env(), timeout=180, check=False,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def stop_wineserver():
    subprocess.run(["wineserver", "-k"], env=wine_env(), check=False, timeout=60)


def wine_path(path):
    """Linux path -> the Z: path Wine gives it."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def run_wine(exe, *args, env=None, cwd=None, timeout=60, input=None):
    """Runs a Windows program under Wine; returns CompletedProcess (bytes)."""
    return subprocess.run(["wine", str(exe), *map(str, args)], env=wine_env(env),
                          cwd=cwd, capture_output=True, timeout=timeout, input=input)


def run_native(exe, *args, env=None, cwd=None, timeout=60, input=None):
    full_env = dict(os.environ)
    if env:
        full_env.update(env)
    return subprocess.run([str(exe), *map(str, args)], env=full_env, cwd=cwd,
                          capture_output=True, timeout=timeout, input=input)


def make_jar(path, entries=None):
    """A zip archive with the given {name: bytes} entries (a manifest by default)."""
    entries = entries or {"META-INF/MANIFEST.MF": b"Manifest-Version: 1.0\r\n\r\n"}
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in entries.items():
            z.writestr(name, data)
    return Path(path)


def compile_java(src_dir, out_jar, release="8", classpath=None, bootclasspath=None):
    """Compiles every .java below src_dir into out_jar with the machine's JDK
    (against another class library when bootclasspath is given)."""
    src_dir, out_jar = Path(src_dir), Path(out_jar)
    classes = out_jar.parent / (out_jar.stem + "-classes")
    shutil.rmtree(classes, ignore_errors=True)
    classes.mkdir(parents=True)
    sources = [str(p) for p in src_dir.rglob("*.java")]
    target = (["-source", release, "-target", release, "-nowarn", "-bootclasspath",
               str(bootclasspath)] if bootclasspath else ["--release", release])
    cmd = [str(JDK / "bin" / "javac"), *target, "-d", str(classes)]
    if classpath:
        cmd += ["-cp", str(classpath)]
    subprocess.run(cmd + sources, check=True)
    entries = {str(p.relative_to(classes)): p.read_bytes() for p in classes.rglob("*.class")}
    return make_jar(out_jar, entries)


def wrap(stub, jar, config_text, output, *options, config_bytes=None, checked=False):
    """Runs qlxwrap; config_text is written as a UTF-8 file unless config_bytes is given.
    Unless `checked`, configuration errors are let through: suites test how the
    launcher treats any configuration, and the generator's checks have their own tests."""
    if not checked:
        options = ("--allow-config-errors", *options)
    output = Path(output)
    cfg = output.parent / (output.name + ".src.cfg")
    if config_bytes is not None:
        cfg.write_bytes(config_bytes)
    else:
        cfg.write_text(config_text, encoding="utf-8")
    result = subprocess.run([str(QLXWRAP), "--stub", str(stub), "--jar", str(jar), "--config",
                             str(cfg), "--output", str(output), *options],
                            capture_output=True, text=True)
    cfg.unlink()
    if result.returncode != 0:
        raise RuntimeError(f"qlxwrap failed ({result.returncode}): {result.stderr}")
    return output


# The machine's Java runtime and the support classes, for the Linux suites.
JAVA = JDK / "bin" / "java"
LIBJVM = JDK / "lib" / "server" / "libjvm.so"
SUPPORT_JAR = BUILD_HOST / "java" / "qlx-support.jar"

# The real Java VM for Windows (Avian), the test VM: a folder holding
# jvm.dll and classpath.jar, and the digest of the avian.patch it was built
# from (patch.sha256, which tools/build-avian.sh writes, or a copy of the
# patch itself). QLX_AVIAN names the one folder to use; without it,
# ../shared/avian beside the checkout and build/avian are looked at, and one
# built from the current tools/avian/avian.patch is preferred.
#
# Tests reach the test VM and Temurin 25 only through the helpers below
# (require_avian, avian_dir, qlxtest.AVIAN, require_jdk25, jdk25_home,
# qlxtest.JDK25): each skips with the reason when the runtime is missing
# (under CI=true it fails instead); have_avian lets a test do part of its
# work without the VM. tests/test_runtime_lookup.py fails when a test
# spells their locations itself.
AVIAN_PATCH = ROOT / "tools" / "avian" / "avian.patch"


def _avian_candidates():
    if os.environ.get("QLX_AVIAN"):
        return [Path(os.environ["QLX_AVIAN"])]
    return [ROOT.parent / "shared" / "avian", ROOT / "build" / "avian"]


def _sha256(path):
    import hashlib
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()


def patch_digest_of(folder):
    """The digest of the patch a test VM was built from, or None if unknown."""
    folder = Path(folder)
    if (folder / "patch.sha256").is_file():
        words = (folder / "patch.sha256").read_text().split()
        return words[0].lower() if words else None
    if (folder / "avian.patch").is_file():
        return _sha256(folder / "avian.patch")
    return None


def find_avian():
    """(folder, current): the test VM the tests use and whether it was built
    from the current patch; (None, False) when there is none."""
    found = [d for d in _avian_candidates()
             if (d / "jvm.dll").is_file() and (d / "classpath.jar").is_file()]
    if not found:
        return None, False
    wanted = _sha256(AVIAN_PATCH) if AVIAN_PATCH.is_file() else None
    for d in found:
        if wanted is not None and patch_digest_of(d) == wanted:
            return d, True
    return found[0], False


AVIAN_FOUND, AVIAN_CURRENT = find_avian()
NO_AVIAN = ("no Windows test VM (Avian jvm.dll and classpath.jar) in "
            + " or ".join(str(d) for d in _avian_candidates()))
STALE_AVIAN = (f"the Windows test VM in {AVIAN_FOUND} was built from another "
               "tools/avian/avian.patch")
HOW_AVIAN = "run tools/build-avian.sh or set QLX_AVIAN to a folder holding jvm.dll and classpath.jar"

# The newest Java runtime the Linux suites prove the launcher on.
_JDK25 = Path(os.environ.get("QLX_JDK25_HOME", "/usr/lib/jvm/temurin-25-jdk-amd64"))
NO_JDK25 = f"no Temurin 25 at {_JDK25}"
HOW_JDK25 = "install Temurin 25 there or set QLX_JDK25_HOME to a JDK 25 home"


def _missing(reason):
    """Skips with `reason`; under CI a missing test runtime is a failure.
    Module level is allowed: a test file that reads a runtime's path while
    it is imported is skipped as a whole."""
    import pytest
    if os.environ.get("CI") == "true":
        pytest.fail(reason + " (CI=true: every test runtime must be present)", pytrace=False)
    pytest.skip(reason, allow_module_level=True)


def require_avian(current_patch=False):
    """Skips the calling test (or, from a session fixture, its suite) when no
    Windows test VM is found; with `current_patch`, also when the one found
    was built from another avian.patch (the test checks what the patch fixes)."""
    if AVIAN_FOUND is None:
        _missing(NO_AVIAN)
    if current_patch and not AVIAN_CURRENT:
        _missing(STALE_AVIAN)


def have_avian():
    """Whether the test VM is there, for a test that does part of its work
    without it (under CI=true its absence fails the test instead)."""
    if AVIAN_FOUND is None and os.environ.get("CI") == "true":
        _missing(NO_AVIAN)
    return AVIAN_FOUND is not None


def avian_dir(current_patch=False):
    """The test VM's folder (skips as require_avian does)."""
    require_avian(current_patch)
    return AVIAN_FOUND


def require_jdk25():
    if not (_JDK25 / "lib" / "server" / "libjvm.so").is_file():
        _missing(NO_JDK25)


def jdk25_home():
    """Temurin 25's home (skips as require_jdk25 does)."""
    require_jdk25()
    return _JDK25


def __getattr__(name):
    """qlxtest.AVIAN, qlxtest.AVIAN_SUITE_FILES and qlxtest.JDK25 skip when
    their runtime is missing, so no test can read the path and go on without it."""
    if name == "AVIAN":
        return avian_dir()
    if name == "AVIAN_SUITE_FILES":
        # What every suite that runs real Java under Wine needs built.
        return ((STUB_WIN, "Windows launcher stub"), (QLXWRAP, "qlxwrap"),
                (SUPPORT_JAR, "qlx-support.jar"),
                (avian_dir() / "jvm.dll", "Windows test VM (Avian jvm.dll)"))
    if name == "JDK25":
        return jdk25_home()
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


# The build tools the plugins are proven with: Debian's Maven (offline, with
# the Debian repository as its only mirror) and Debian's Gradle.
MAVEN_REPO = Path("/usr/share/maven-repo")
NO_MAVEN = "no Maven with the Debian repository (mvn, /usr/share/maven-repo)"
NO_GRADLE = "no Gradle (gradle)"
HOW_BUILD_TOOLS = "run tools/install-deps.sh (maven, gradle and the Debian Maven plugins)"
QLX_WRAP_JAR = BUILD_HOST / "tools" / "qlx-wrap.jar"


def require_maven():
    if shutil.which("mvn") is None or not (MAVEN_REPO / "org" / "apache" / "maven" / "plugins"
                                           / "maven-plugin-plugin").is_dir():
        _missing(NO_MAVEN)


def require_gradle():
    if shutil.which("gradle") is None:
        _missing(NO_GRADLE)


def avian_app_jar(app, out):
    """tests/apps/<app> compiled against Avian's class library and the support classes."""
    return compile_java(ROOT / "tests" / "apps" / app, out, classpath=SUPPORT_JAR,
                        bootclasspath=avian_dir() / "classpath.jar")


def wait_for(predicate, timeout=30.0, step=0.2):
    import time
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


def avian_config():
    """Configuration lines that run a wrapped program on the Avian VM."""
    dll = wine_path(avian_dir() / "jvm.dll")
    return (f"jvmdll {dll}\njre_order c\noption -Davian.bootstrap={dll}\n"
            "option -Djava.version=1.8.0_avian\n")


def compile_windows_helper(source, out_dir, libs=()):
    """A small C test program for Windows, built with MinGW."""
    exe = Path(out_dir) / (Path(source).stem + ".exe")
    subprocess.run(["x86_64-w64-mingw32-gcc", "-O2", "-o", str(exe), str(source),
                    *(f"-l{lib}" for lib in libs)], check=True)
    return exe


if __name__ == "__main__":
    # For the shell scripts, so they choose the test VM by the same rule:
    # "python3 tests/qlxtest.py test-vm [--current]" prints its folder, or
    # the reason there is none (exit 1).
    import sys
    if sys.argv[1:2] != ["test-vm"]:
        sys.exit("usage: qlxtest.py test-vm [--current]")
    if AVIAN_FOUND is None or ("--current" in sys.argv and not AVIAN_CURRENT):
        sys.exit(NO_AVIAN if AVIAN_FOUND is None else STALE_AVIAN)
    print(AVIAN_FOUND)
