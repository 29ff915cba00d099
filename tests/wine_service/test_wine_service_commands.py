"""The program's own service commands under Wine's Service Control Manager,
with the real Java service on Avian: /start with parameters, /pause,
/continue, /status in each state, /stop, /restart and their failures, and the
install-time settings read back from the manager and the registry."""
import re
import subprocess

import qlxtest
from service_support import wait_for

VERSION = (qlxtest.ROOT / "VERSION").read_text().strip()

HANDLER = "property svc.handler=true\nproperty svc.canPause=true\nproperty svc.pauseAnswer=true\n"


def command(s, *args, input=None):
    """(exit code as a Unix parent sees it, printed lines) of one command."""
    r = qlxtest.run_wine(s.exe, *args, cwd=s.dir, timeout=120, input=input)
    return r.returncode, r.stdout.decode(errors="replace").splitlines()


def config(s):
    return dict(line.split("=", 1) for line in s.ctl("config", s.name).splitlines() if "=" in line)


def registry(s):
    r = qlxtest.run_wine("reg", "query", f"HKLM\\System\\CurrentControlSet\\Services\\{s.name}")
    return r.stdout.decode(errors="replace")


def test_commands_take_the_service_through_its_states(service):
    # With stdout set, the results still reach the console, and the log
    # holds the application's output only.
    s = service(HANDLER + "stdout out.log\nstoptimeout 4\n", install_args=("manual", "a1"))
    name = s.name

    def status():
        code, lines = command(s, "/status")
        return code, lines[0], lines[1] if len(lines) > 1 else ""

    code, first, details = status()
    assert (code, first) == (1, f"Service '{name}' is stopped.")
    assert details.startswith("Process id none, start type manual, account LocalSystem,")

    assert command(s, "/start", "p1", "p 2") == (0, [f"Service '{name}' started."])
    assert wait_for(lambda: "started" in s.record())
    assert s.record()[0] == "main a1,p1,p 2"
    assert command(s, "/start") == (285 % 256, [
        f"Service '{name}' start failed, the service is already running."])
    code, first, details = status()
    assert (code, first) == (0, f"Service '{name}' is running.")
    assert "Process id none" not in details and "exit code 0" in details

    assert command(s, "/pause") == (0, [f"Service '{name}' paused."])
    assert status()[:2] == (7, f"Service '{name}' is paused.")
    assert command(s, "/pause") == (0, [f"Service '{name}' paused."])
    assert command(s, "/continue") == (0, [f"Service '{name}' continued."])
    assert status()[0] == 0

    assert command(s, "/restart", "r") == (0, [f"Service '{name}' restarted."])
    assert wait_for(lambda: s.record().count("started") == 2)
    assert "main a1,r" in s.record()
    assert command(s, "/stop") == (0, [f"Service '{name}' stopped."])
    assert s.query()["state"] == 1
    assert command(s, "/stop") == (286 % 256, [
        f"Service '{name}' stop failed, the service is already stopped."])
    assert command(s, "/continue")[0] == 286 % 256
    assert s.record().count("onStop") == 2 and "onPause" in s.record()

    log = (s.dir / "out.log").read_text(errors="replace")
    assert "Service type application." not in log  # no usage text from the manager's starts


def test_failures_have_their_own_lines_and_codes(service):
    missing = service(install=False)
    assert command(missing, "/stop") == (282 % 256, [
        f"Service '{missing.name}' stop failed, service does not exist."])
    assert command(missing, "/status")[0] == 282 % 256

    broken = service("mainclass svc.Missing\n")
    code, lines = command(broken, "/start")
    assert code == 289 % 256
    assert lines == [f"Service '{broken.name}' start failed, the service stopped while starting, "
                     f"with exit code 7; see its error log {qlxtest.wine_path(broken.stderr_log)}"]
    assert b"The main startup class could not be found." in broken.stderr_log.read_bytes()

    # An uncaught exception in main is a failure, in the console and as a service.
    crash = service("property svc.throw=true\n")
    r = qlxtest.run_wine(crash.exe, "/test", cwd=crash.dir)
    assert r.returncode == 1
    assert b"IllegalStateException: service crashed" in crash.stderr_log.read_bytes()
    code, lines = command(crash, "/start")
    assert code == 289 % 256 and "with exit code 1;" in lines[0]
    status = crash.query()
    assert (status["state"], status["win32"], status["specific"]) == (1, 1066, 1)

    # Pausing an application without a handler that can pause is refused.
    plain = service("property svc.handler=true\n")
    assert command(plain, "/start")[0] == 0
    code, lines = command(plain, "/pause")
    assert code == 292 % 256
    assert lines == [f"Service '{plain.name}' pause failed, the service does not accept this "
                     "request while it is running."]
    assert command(plain, "/stop")[0] == 0


def test_install_settings_from_the_program_and_from_install_switches(service):
    s = service("stoptimeout 7\n", install=False,
                wrap_options=("--start-type", "delayed", "--account", "LocalService",
                              "--recovery", "10/2/3600"))
    shown = subprocess.run([str(qlxtest.QLXWRAP), "--inspect", str(s.exe)], capture_output=True,
                           text=True).stdout
    assert "service settings:   start=delayed account=LocalService recovery=10/2/3600\n" in shown
    code, lines = command(s, "/install")
    assert code == 0 and lines[-1] == f"Service '{s.name}' installed successfully."
    c = config(s)
    assert (c["start"], c["account"]) == ("2", "NT AUTHORITY\\LocalService")
    assert c["preshutdown"] == "7000" and c["path"].endswith('svc.exe" ')
    reg = registry(s)
    assert "PreshutdownTimeout    REG_DWORD    0x1b58" in reg
    assert "ObjectName    REG_SZ    NT AUTHORITY\\LocalService" in reg
    # Each setting is either stored as asked or named in a line of its own.
    # Wine 8 refuses the delayed flag and the failure-actions flag (error
    # 87), and accepts the failure actions without storing them.
    refused = {line.split(": the ")[1].split(" setting")[0] for line in lines[:-1]}
    assert refused <= {"delayed start", "failonexit"}
    assert c["delayed"] == ("?" if "delayed start" in refused else "1")
    assert c["flag"] == ("?" if "failonexit" in refused else "1")
    assert (c["reset"], c["actions"]) in [("3600", "1/10000,1/10000,0/0"), ("?", "?")]
    code, lines = command(s, "/status")
    assert "account NT AUTHORITY\\LocalService" in lines[1]
    assert command(s, "/uninstall")[0] == 0

    # Switches override the stored defaults and never reach the image path.
    code, lines = command(s, "/install:disabled", "/account:virtual", "/recovery:none",
                          "/failonexit:no", "y1")
    assert lines == [f"Service '{s.name}' installed successfully."]
    c = config(s)
    assert (c["start"], c["account"]) == ("4", f"NT SERVICE\\{s.name}")
    assert c["path"].endswith('svc.exe" y1')
    assert command(s, "/start") == (287 % 256, [
        f"Service '{s.name}' start failed, the service is disabled."])
    assert command(s, "/uninstall")[0] == 0

    # A user account: the password comes from standard input and is stored nowhere.
    code, lines = command(s, "/install:manual", "/account:alice", input=b"s3cret-pw\n")
    assert code == 0, lines
    c = config(s)
    assert c["account"] == ".\\alice" and "s3cret" not in c["path"]
    assert "s3cret" not in registry(s)
    assert command(s, "/uninstall")[0] == 0

    # An unknown start type is refused, with the program's own default in the
    # way to pass the value on as an argument; nothing is installed.
    code, lines = command(s, "/install", "p1.txt", "z")
    assert (code, lines) == (302 % 256, [
        f"Service '{s.name}' install failed, 'p1.txt' is no start type (auto, delayed, manual, "
        "disabled); for an argument use /install:delayed p1.txt"])
    assert command(s, "/status")[0] == 282 % 256

    code, lines = command(s, "/install:auto", "/recovery:5/x")
    assert (code, lines) == (303 % 256, [
        f"Service '{s.name}' install failed, the value of /recovery is not valid: '5/x' "
        "(DELAY[/COUNT[/RESET]], seconds)."])


def test_bad_settings_are_refused_when_wrapping(tmp_path, service_jar):
    # The generator takes the launcher's own rules, bounds and slips included.
    for option, value, reason in [
            ("--start-type", "sometimes", ""), ("--recovery", "0/0", ": COUNT is 1 to 1023"),
            ("--recovery", "60/1024", ": COUNT is 1 to 1023"),
            ("--recovery", "86401/3", ": DELAY is at most 86400"),
            ("--fail-on-exit", "maybe", ""), ("--account", "", ""),
            ("--account", "LocalServce", ": did you mean LocalService?")]:
        r = subprocess.run([str(qlxtest.QLXWRAP), "--stub", str(qlxtest.STUB_WIN), "--jar",
                            str(service_jar), "--output", str(tmp_path / "x.exe"), option, value],
                           capture_output=True, text=True)
        assert r.returncode == 1, (option, r.stderr)
        assert r.stderr == f"qlxwrap: {option} '{value}' is not valid{reason}\n", r.stderr
        assert not (tmp_path / "x.exe").exists()


def test_service_commands_leave_the_running_services_logs_alone(service):
    # With "logrotate start" every run that opened the logs would rotate
    # them: the commands must not, while /help still writes where stdout
    # points. The service's own run leaves its launcher lines, stamped.
    s = service(HANDLER + "stdout out.log\nstderr err.log\nlogrotate start\n")
    name = s.name
    assert command(s, "/start") == (0, [f"Service '{name}' started."])
    assert wait_for(lambda: "started" in s.record())

    def logs():
        return {p.name: p.read_bytes() for p in s.dir.iterdir() if p.name.startswith(("out", "err"))}
    before = logs()
    code, lines = command(s, "/status")
    assert code == 0 and lines[0] == f"Service '{name}' is running." and len(lines) == 3
    assert lines[2].startswith("Recovery: ")
    assert command(s, "/pause") == (0, [f"Service '{name}' paused."])
    assert command(s, "/continue") == (0, [f"Service '{name}' continued."])
    assert command(s, "/start")[0] == 285 % 256
    assert logs() == before

    assert command(s, "/stop") == (0, [f"Service '{name}' stopped."])
    err = (s.dir / "err.log").read_text(errors="replace")
    stamp = r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d qlx: Service '" + re.escape(name) + "' "
    expected = [r"starting: version not set, qlx " + re.escape(VERSION) + r", account \S.*, runtime "
                + re.escape(qlxtest.wine_path(qlxtest.AVIAN / "jvm.dll")) + r", Java 1\.8\.0_avian\.",
                r"stop requested \(stop\)\.", r"stop finished in \d+\.\d s\.", r"ended, exit code 0\."]
    for line in expected:
        assert len(re.findall(stamp + line + r"\r?$", err, re.M)) == 1, (line, err)
    assert "Service type application." not in (s.dir / "out.log").read_text(errors="replace")

    # /help is no service command: its text also goes where stdout points.
    code, lines = command(s, "/help")
    assert code == 0 and lines[0] == "Service type application."
    assert "Service type application." in (s.dir / "out.log").read_text(errors="replace")
