"""Wrapped test programs for the Wine core suite: a stub wrapped with a
configuration, the stand-in jvm.dll beside it (found through `jvmdll`), and
runs whose standard streams, files and VM call log are read back."""
import os
import shutil
import subprocess
import time
from pathlib import Path

import qlxtest

DOUBLES = qlxtest.BUILD_WIN / "tests" / "jvmdouble"

# Every program finds the stand-in runtime beside itself and nothing else,
# whatever the machine's environment holds.
BASE_CONFIG = "mainclass sample.Main\njvmdll jvm.dll\njre_order c\n"

USAGE = b"Service type application.\r\n\r\nUse /install to install service.\r\n"
MSG_MODIFIED = b"The exe can not be modified after it generated."
MSG_RUNNING = b"There is already an instance of this program running."
MSG_START_FAILED = b"Java Virtual Machine starts failed."


class App:
    def __init__(self, directory, jar, config, name="app", options=(), jvm="jvm.dll"):
        self.dir = Path(directory)
        self.dir.mkdir(parents=True, exist_ok=True)
        self.exe = self.dir / f"{name}.exe"
        self.log = self.dir / "jvm.log"
        qlxtest.wrap(qlxtest.STUB_WIN, jar, BASE_CONFIG + config, self.exe, *options)
        if jvm:
            shutil.copy(DOUBLES / jvm, self.dir / "jvm.dll")

    @property
    def stderr_log(self):
        return self.dir / (self.exe.name + ".stderr.log")

    def env(self, script="", extra=None):
        env = {"QLX_JVM_LOG": str(self.log), "QLX_JVM_SCRIPT": script, "JAVA_HOME": "",
               "JRE_HOME": ""}
        env.update(extra or {})
        return env

    def run(self, *args, script="", env=None, cwd=None, timeout=60):
        return qlxtest.run_wine(self.exe, *args, env=self.env(script, env), cwd=cwd or self.dir,
                                timeout=timeout)

    def start(self, *args, script="", env=None):
        """Starts the program without waiting; the caller ends it."""
        return subprocess.Popen(["wine", str(self.exe), *map(str, args)],
                                env=qlxtest.wine_env(self.env(script, env)), cwd=self.dir,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def log_lines(self):
        return self.log.read_text(errors="replace").splitlines() if self.log.exists() else []

    def main_args(self):
        return [line[len("main arg="):] for line in self.log_lines() if line.startswith("main arg=")]


wait_for = qlxtest.wait_for


def read_text(path):
    return Path(path).read_bytes() if Path(path).exists() else b""
