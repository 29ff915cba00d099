"""Helpers of the Linux end-to-end suite: a wrapped probe executable and the
parsing of the probe's output."""
import os
import subprocess
from pathlib import Path


# What the JVM prints under -Xcheck:jni when native code misuses JNI.
JNI_COMPLAINTS = ("WARNING in native method", "FATAL ERROR in native method")


class Wrapped:
    """A wrapped probe executable in its own directory. Every run fails the
    test when the JVM (run with -Xcheck:jni) complained about the launcher's
    use of JNI."""

    def __init__(self, path):
        self.path = Path(path)
        self.dir = self.path.parent
        self.stderr_log = Path(str(self.path) + ".stderr.log")

    def run(self, *args, env=None, timeout=60, drop_env=()):
        full = {"LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"}
        if env:
            full.update(env)
        base = {k: v for k, v in os.environ.items() if k not in drop_env}
        base.update(full)
        r = subprocess.run([str(self.path), *map(str, args)], env=base, cwd=str(self.dir),
                           capture_output=True, timeout=timeout)
        self.check_jni(r.stdout + r.stderr)
        return r

    def check_jni(self, output=b""):
        text = output.decode("utf-8", "replace") + self.log()
        for complaint in JNI_COMPLAINTS:
            assert complaint not in text, text

    def log(self):
        return self.stderr_log.read_bytes().decode("utf-8", "replace") \
            if self.stderr_log.exists() else ""


def facts(stdout):
    """key=value lines of the probe's output as a dict (first value wins)."""
    text = stdout.decode("utf-8", "replace") if isinstance(stdout, bytes) else stdout
    out = {}
    for line in text.splitlines():
        if "=" in line:
            key, value = line.split("=", 1)
            out.setdefault(key, value)
    return out




def lock_file(mutex_source, runtime_dir=None):
    """The file that carries the single-instance lock of a program whose
    mutex name comes from `mutex_source` (its appid or its path): in the
    user's runtime directory, else in the user's own directory in /tmp."""
    name = str(mutex_source).replace(":", ".").replace("\\", ".") + ".qlx.mutex"
    escaped = "".join("%{:02X}".format(ord(c)) if c in "/%" else c for c in name)
    directory = runtime_dir or os.environ.get("XDG_RUNTIME_DIR") or f"/tmp/qlx-{os.geteuid()}"
    return Path(directory) / ("qlx-" + escaped)
