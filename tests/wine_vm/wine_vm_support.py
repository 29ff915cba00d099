"""Helpers of the Wine suite for discovery, VM loading and the console run:
copies of the stand-in jvm.dll, wrapped programs with their call log, and
registry entries that are removed again."""
import shutil
import subprocess
import time
from pathlib import Path

import qlxtest



DOUBLES = qlxtest.BUILD_WIN / "tests" / "jvmdouble"

# Variables of the machine that would change discovery or the double.
_CLEARED = ("JRE_HOME", "JAVA_HOME", "JAVA_TOOL_OPTIONS", "CLASSPATH", "CLASS_PATH")


def place_double(path, variant="jvm"):
    """Copies one variant of the stand-in VM library to path (a jvm.dll)."""
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(DOUBLES / f"{variant}.dll", path)
    return path


class Run:
    def __init__(self, result, log_path, stderr_log):
        self.returncode = result.returncode
        self.stdout = result.stdout.decode("utf-8", "replace").replace("\r\n", "\n")
        self.wine_stderr = result.stderr.decode("utf-8", "replace")
        self.log = log_path.read_text("utf-8").splitlines() if log_path.exists() else []
        self.stderr_log = (stderr_log.read_bytes().decode("utf-8", "replace").replace("\r\n", "\n")
                           if stderr_log.exists() else "")

    def lines(self, prefix):
        """Log lines that start with prefix, without it."""
        return [line[len(prefix):] for line in self.log if line.startswith(prefix)]

    @property
    def options(self):
        return self.lines("option ")

    @property
    def library(self):
        """The path of the VM library the launcher loaded (Windows form)."""
        found = self.lines("library ")
        return found[0] if found else None

    def explain(self):
        return (f"exit {self.returncode}\nstdout:\n{self.stdout}\nstderr log:\n{self.stderr_log}\n"
                f"wine:\n{self.wine_stderr[-2000:]}\nlog:\n" + "\n".join(self.log))


class App:
    """A wrapped program in its own directory under the test's tmp_path."""

    def __init__(self, directory, jar, config, name="app"):
        self.dir = Path(directory)
        self.dir.mkdir(parents=True, exist_ok=True)
        self.exe = qlxtest.wrap(qlxtest.STUB_WIN, jar, config, self.dir / f"{name}.exe")
        self.log_path = self.dir / "jvm-calls.log"
        self.stderr_log = self.dir / f"{name}.exe.stderr.log"

    def run(self, *args, env=None, cwd=None, script=None, timeout=60):
        # C.UTF-8 is always installed; Wine then decodes the UTF-8 command
        # line correctly and still picks code page 1252. Without an installed
        # en_US.UTF-8 locale Wine would strip the high bit of every byte.
        full = qlxtest.wine_env(lang="C.UTF-8")
        for name in _CLEARED:
            full.pop(name, None)
        for name in list(full):
            if name.startswith("QLX_JVM_"):
                del full[name]
        full["QLX_JVM_LOG"] = qlxtest.wine_path(self.log_path)
        if script is not None:
            full["QLX_JVM_SCRIPT"] = script
        for name, value in (env or {}).items():
            if value is None:
                full.pop(name, None)
            else:
                full[name] = value
        for stale in (self.log_path, self.stderr_log):
            if stale.exists():
                stale.unlink()
        result = subprocess.run(["wine", str(self.exe), *map(str, args)], env=full,
                                cwd=str(cwd or self.dir), capture_output=True, timeout=timeout)
        return Run(result, self.log_path, self.stderr_log)


def _reg(*args):
    return subprocess.run(["wine", "reg", *args], env=qlxtest.wine_env(), capture_output=True,
                          timeout=60)


def _key_exists(key):
    return _reg("query", key).returncode == 0


def _reg_import(lines, directory, *options):
    """Applies registry lines (REGEDIT4 syntax) with one call of reg import."""
    path = Path(directory) / "qlx-vmwin.reg"
    path.write_bytes(("REGEDIT4\r\n\r\n" + "\r\n".join(lines) + "\r\n\r\n").encode("utf-8"))
    # One retry: right after the server starts, Wine's own services may
    # still be settling and an import can fail once.
    for attempt in range(2):
        r = _reg("import", qlxtest.wine_path(path), *options)
        if r.returncode == 0:
            break
        time.sleep(1)
    path.unlink()
    assert r.returncode == 0, r.stdout + r.stderr


class Registry:
    """Values written under HKEY_LOCAL_MACHINE. Every product key (the
    third component, as in SOFTWARE\\JavaSoft\\JRE) that this object
    created is deleted again with everything below it, and so is a parent
    (JavaSoft, IBM) that was not there before."""

    PARENTS = ("SOFTWARE\\JavaSoft", "SOFTWARE\\IBM")

    def __init__(self, directory):
        self.directory = directory
        self.created = []
        self.checked = set()
        listing = {line.strip().lower() for line in
                   _reg("query", "HKLM\\SOFTWARE").stdout.decode("utf-8", "replace").splitlines()}
        self.parents_before = {p: f"hkey_local_machine\\{p.lower()}" in listing
                               for p in self.PARENTS}

    def _track(self, key):
        parts = key.split("\\")
        product, parent = "\\".join(parts[:3]), "\\".join(parts[:2])
        if product in self.checked:
            return
        self.checked.add(product)
        if not self.parents_before.get(parent, True) or not _key_exists("HKLM\\" + product):
            self.created.append(product)

    def write(self, values):
        """values: {key below HKLM: {value name: text}}; an empty dict makes
        an empty key. All in one import."""
        lines = []
        for key, named in values.items():
            self._track(key)
            lines.append(f"[HKEY_LOCAL_MACHINE\\{key}]")
            for name, text in named.items():
                escaped = text.replace("\\", "\\\\").replace('"', '\\"')
                lines.append(f'"{name}"="{escaped}"')
            lines.append("")
        _reg_import(lines, self.directory)

    def cleanup(self):
        dropped = [p for p, existed in self.parents_before.items() if not existed]
        gone = [f"[-HKEY_LOCAL_MACHINE\\{key}]" for key in reversed(self.created)
                if "\\".join(key.split("\\")[:2]) not in dropped]
        gone += [f"[-HKEY_LOCAL_MACHINE\\{p}]" for p in dropped]
        if gone:
            try:
                _reg_import(gone, self.directory)
            except AssertionError:
                # No later test may find these keys: delete them one by one.
                for key in self.created + dropped:
                    _reg("delete", "HKLM\\" + key, "/f")
                left = [k for k in self.created + dropped if _key_exists("HKLM\\" + k)]
                assert not left, f"registry keys left behind: {left}"
        self.created = []
        self.checked = set()


_HIVES = {"HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER"}


def _reg_value(name, value):
    """One REGEDIT4 value line: text, a DWORD (int) or binary data (bytes)."""
    if isinstance(value, int):
        return f'"{name}"=dword:{value:08x}'
    if isinstance(value, bytes):
        return f'"{name}"=hex:' + ",".join(f"{b:02x}" for b in value)
    return '"{}"="{}"'.format(name, value.replace("\\", "\\\\").replace('"', '\\"'))


class Keys:
    """Values written in HKLM or HKCU through the 64-bit or the 32-bit view
    (reg's /reg:64, /reg:32). The shallowest key of each path that was not
    there before is deleted afterwards (with reg delete: Wine's import
    ignores the view when it deletes)."""

    def __init__(self, directory):
        self.directory, self.created = directory, []

    def _exists(self, view, key):
        return _reg("query", key, f"/reg:{view}").returncode == 0

    def write(self, view, values):
        """values: {"HKLM\\SOFTWARE\\...": {name: str | int | bytes}}; {} makes an empty key."""
        lines = []
        for key, named in values.items():
            parts = key.split("\\")
            prefixes = ["\\".join(parts[:n]) for n in range(3, len(parts) + 1)]
            if not any((view, p) in self.created for p in prefixes):
                new = next((p for p in prefixes if not self._exists(view, p)), None)
                if new:
                    self.created.append((view, new))
            lines += [f"[{_HIVES[parts[0]]}\\{parts[1]}\\" + "\\".join(parts[2:]) + "]",
                      *(_reg_value(n, v) for n, v in named.items()), ""]
        _reg_import(lines, self.directory, f"/reg:{view}")

    def cleanup(self):
        for view, key in reversed(self.created):
            _reg("delete", key, "/f", f"/reg:{view}")
        left = [key for view, key in self.created if self._exists(view, key)]
        self.created = []
        assert not left, f"registry keys left behind: {left}"


def win(path):
    return qlxtest.wine_path(path)


def same_path(windows_path, path):
    """True when a path the launcher reported names the given file."""
    a = windows_path.replace("/", "\\").lower()
    return a == win(path).lower()
