"""A wrapped test service under Wine's Service Control Manager: installed with
the program's own /install, driven through svcctl (start parameters,
controls, status), and read back through the record its Java side writes."""
import re
import subprocess
import uuid

import qlxtest

DOUBLES = qlxtest.BUILD_WIN / "tests" / "jvmdouble"
ENDED = re.compile(r"t=(\d+) ended")
STATUS = re.compile(r"(?:t=(\d+) )?state=(\d+) accepted=0x([0-9a-f]+) win32=(\d+) specific=(\d+) "
                    r"checkpoint=(\d+) wait=(\d+)")


def parse_status(line):
    m = STATUS.search(line)
    if not m:
        return None
    time, state, accepted, win32, specific, checkpoint, wait = m.groups()
    return {"t": int(time or 0), "state": int(state), "accepted": int(accepted, 16), "win32": int(win32),
            "specific": int(specific), "checkpoint": int(checkpoint), "wait": int(wait)}


class Service:
    def __init__(self, directory, jar, svcctl, config, double, wrap_options=()):
        self.dir = directory
        self.dir.mkdir(parents=True)
        self.name = f"QlxSvc{uuid.uuid4().hex[:10]}"
        self.svcctl = svcctl
        self.record_path = self.dir / "record.txt"
        self.log_path = self.dir / "jvm.log"
        if double:
            base = ("mainclass svc.ServiceApp\njvmdll jvm.dll\njre_order c\n"
                    f"export QLX_JVM_LOG={qlxtest.wine_path(self.log_path)}\n")
            (self.dir / "jvm.dll").write_bytes((DOUBLES / "jvm.dll").read_bytes())
        else:
            base = ("mainclass svc.ServiceApp\n" + qlxtest.avian_config() +
                    f"property svc.record={qlxtest.wine_path(self.record_path)}\n")
        self.exe = qlxtest.wrap(qlxtest.STUB_WIN, jar, config + base, self.dir / "svc.exe",
                                "--service-name", self.name, "--support", *wrap_options)
        self.stderr_log = self.dir / "svc.exe.stderr.log"
        self.watcher = None
        self.process_ended = None  # when the watcher saw the service's process end (ms)

    def ctl(self, *args, timeout=60):
        result = qlxtest.run_wine(self.svcctl, *args, timeout=timeout)
        return result.stdout.decode(errors="replace").strip()

    def install(self, *args):
        out = qlxtest.run_wine(self.exe, "/install", *args, cwd=self.dir).stdout
        assert b"installed successfully" in out, out

    def start(self, *params, watch_ms=15000, until=1, accept=("started",)):
        """Starts the service while a watcher records every status it takes;
        `accept` lists the answers of svcctl start that are expected."""
        self.watcher = subprocess.Popen(
            ["wine", str(self.svcctl), "watch", self.name, str(watch_ms), str(until)],
            env=qlxtest.wine_env(), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            stdin=subprocess.DEVNULL)
        answer = self.ctl("start", self.name, *params)
        assert answer in accept, answer

    def watched(self, timeout=90):
        """The statuses the watcher saw, in order (waits for it to end)."""
        out, _ = self.watcher.communicate(timeout=timeout)
        lines = out.decode(errors="replace").splitlines()
        ended = [int(m.group(1)) for m in map(ENDED.search, lines) if m]
        self.process_ended = ended[0] if ended else None
        return [s for s in map(parse_status, lines) if s]

    def control(self, word):
        out = self.ctl("control", self.name, word)
        return parse_status(out) or out

    def query(self):
        return parse_status(self.ctl("query", self.name))

    def wait_state(self, state, timeout=30.0):
        import time
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            status = self.query()
            if status and status["state"] == state:
                return status
            time.sleep(0.2)
        raise AssertionError(f"{self.name} never reached state {state}: {self.query()}")

    def record(self):
        return (self.record_path.read_text(encoding="utf-8").splitlines()
                if self.record_path.exists() else [])

    def log(self):
        return (self.log_path.read_text(errors="replace").splitlines()
                if self.log_path.exists() else [])

    def remove(self):
        if self.watcher and self.watcher.poll() is None:
            self.watcher.kill()
        status = self.query()
        if status and status["state"] != 1:
            self.ctl("control", self.name, "stop")
        qlxtest.run_wine("sc", "delete", self.name)


wait_for = qlxtest.wait_for
