"""The service command line under Wine: /install and /uninstall against
Wine's Service Control Manager (checked in the registry), /help, /test, and
the dispatcher start from a console. Exit codes above 255 are read through
cmd, since a Linux exit status keeps only the low 8 bits."""
import re
import subprocess
import uuid

import pytest

import qlxtest
from core_support import USAGE, wait_for

SERVICES = r"HKLM\System\CurrentControlSet\Services"


def _unique(prefix="QlxCore"):
    return f"{prefix}{uuid.uuid4().hex[:10]}"


class Service:
    def __init__(self, make_app, name=None, config="", options=()):
        self.name = name or _unique()
        self.app = make_app(config, "--service-name", self.name, *options,
                            directory=None)
        self.winexe = qlxtest.wine_path(self.app.exe)

    def run(self, *args):
        """Runs the program through a batch file: (full exit code, stdout)."""
        batch = self.app.dir / "run.bat"
        batch.write_text(f'@"{self.winexe}" %*\r\n@echo exitcode=%ERRORLEVEL%\r\n')
        for _ in range(2):
            result = qlxtest.run_wine("cmd", "/c", qlxtest.wine_path(batch), *args,
                                      env=self.app.env(), cwd=self.app.dir)
            # Wine's cmd now and then fails to start a program it has just been
            # given (seen once on a loaded machine); the program never ran.
            if b"ShellExecuteEx failed" not in result.stdout:
                break
        out = result.stdout.replace(b"\r\n", b"\n")
        match = re.search(rb"exitcode=(-?\d+)\n?$", out)
        assert match, result
        return int(match.group(1)), out[:match.start()]

    def registry(self):
        """The service's registry values as {name: (type, data)}; None when absent."""
        result = qlxtest.run_wine("reg", "query", f"{SERVICES}\\{self.name}")
        if result.returncode != 0:
            return None
        values = {}
        for line in result.stdout.decode(errors="replace").splitlines():
            match = re.match(r"^    (\S+)    (REG_\w+)(?:    (.*))?$", line)
            if match:
                values[match.group(1)] = (match.group(2), match.group(3) or "")
        return values

    def remove(self):
        qlxtest.run_wine("sc", "delete", self.name)


@pytest.fixture
def service(make_app):
    made = []

    def make(**kwargs):
        s = Service(make_app, **kwargs)
        made.append(s)
        return s
    yield make
    for s in made:
        s.remove()


def _installed(name):
    return f"Service '{name}' installed successfully.\n".encode()


@pytest.mark.parametrize("args, start, tail", [
    (["/install"], 3, ""),
    (["/install", "auto"], 2, ""),
    (["/install:AUTO", "a", "b"], 2, "a b"),
    (["-install=auto"], 2, ""),
    (["/installauto"], 2, ""),
    (["/install:manual"], 3, ""),
    (["/inst", "/other", "c"], 3, "/other c"),
    (["plain", "/install:demand", "y", "z"], 3, "y z"),
])
def test_install_start_type_and_image_path(service, args, start, tail):
    s = service()
    code, out = s.run(*args)
    assert (code, out) == (0, _installed(s.name))
    reg = s.registry()
    assert reg["Start"] == ("REG_DWORD", hex(start))
    assert reg["Type"] == ("REG_DWORD", "0x10")
    assert reg["ErrorControl"] == ("REG_DWORD", "0x0")
    assert reg["ImagePath"] == ("REG_SZ", f'"{s.winexe}" {tail}')
    assert reg["DisplayName"] == ("REG_SZ", s.name)


# A value that is no start type, a slip of a built-in account and a password
# not given as /password:VALUE stop the install before anything is
# registered, with the full code (read through cmd) and one line; the stray
# password appears nowhere.
@pytest.mark.parametrize("args, code, reason", [
    (["/install", "x"], 302, "'x' is no start type (auto, delayed, manual, disabled); for an "
                             "argument use /install:manual x"),
    (["/install", "/account:NetworkSevrice"], 308,
     "'NetworkSevrice' is no account; did you mean NetworkService? (a user: .\\NetworkSevrice)"),
    (["/install", "/account:bob", "/password", "-S3cretDash"], 309,
     "give it as /password:VALUE; the argument after it was not used."),
])
def test_install_mistakes_register_nothing(service, args, code, reason):
    s = service()
    assert s.run(*args) == (code, f"Service '{s.name}' install failed, {reason}\n".encode())
    assert s.registry() is None
    assert not s.app.stderr_log.exists() or b"S3cret" not in s.app.stderr_log.read_bytes()


@pytest.mark.parametrize("args, service_type, tail", [
    (["/install", "/interactive"], "0x110", "/interactive"),
    (["/install", "/interact:yes"], "0x110", "/interact:yes"),
    (["/inter", "/install"], "0x110", ""),
    (["/install", "/interactive:no"], "0x10", "/interactive:no"),
    (["/install", "/interactive=off"], "0x10", "/interactive=off"),
    (["/install", "/inter:0"], "0x10", "/inter:0"),
])
def test_install_interactive(service, args, service_type, tail):
    s = service()
    assert s.run(*args)[0] == 0
    reg = s.registry()
    assert reg["Type"] == ("REG_DWORD", service_type)
    assert reg["ImagePath"][1] == f'"{s.winexe}" {tail}'


def test_install_quotes_arguments_for_the_image_path(service):
    s = service()
    args = ["C:\\My Files\\x", "end\\", "sp ace\\", "", 'q"uote', "tab\there", "w*ld", "a\\\\b"]
    assert s.run("/install", "demand", *args)[0] == 0
    expected = ('"C:\\My Files\\x" end\\ "sp ace\\\\" "" "q\\"uote" "tab\there" "w*ld" a\\\\b')
    assert s.registry()["ImagePath"][1] == f'"{s.winexe}" {expected}'


def test_install_identity_texts_arrive_unchanged(service):
    name = _unique("qlx%s$x")
    # Display names must be unique too: the manager refuses a duplicate one.
    display = f"Disp %s $HOME \\n %% 100% {name}"
    s = service(name=name, options=("--display-name", display,
                                    "--description", "Desc with % $ \\ and %s",
                                    "--depends", "Tcpip/Dhcp"))
    code, out = s.run("/install")
    assert (code, out) == (0, _installed(name))
    reg = s.registry()
    assert reg["DisplayName"] == ("REG_SZ", display)
    assert reg["Description"] == ("REG_SZ", "Desc with % $ \\ and %s")
    # Wine 8's CreateServiceA keeps only the first name of the list (a
    # direct CreateServiceA call shows the same); CreateServiceW keeps all.
    assert reg["DependOnService"] in (("REG_MULTI_SZ", "Tcpip\\0Dhcp"), ("REG_MULTI_SZ", "Tcpip"))


@pytest.mark.parametrize("dependencies, first", [("/Tcpip", "Tcpip"), ("//Dhcp//Tcpip", "Dhcp"),
                                                 ("Tcpip/", "Tcpip")])
def test_empty_dependency_names_are_skipped(service, dependencies, first):
    # An empty name would end the list early and drop the names after it.
    s = service(config=f"message 259={dependencies}\n")
    assert s.run("/install")[0] == 0
    assert s.registry()["DependOnService"][1].split("\\0")[0] == first


def test_no_dependencies(service):
    s = service()
    assert s.run("/install")[0] == 0
    assert s.registry().get("DependOnService", ("REG_MULTI_SZ", ""))[1] == ""


def test_message_overrides_name_the_service(service):
    wanted = _unique("QlxOverride")
    s = service(config=f"message 256={wanted}\nmessage 257=Shown %%QLX_WHAT%% {wanted}\n")
    s.name = wanted  # what the program installs, and what the fixture removes
    code, out = s.run("/install")
    assert (code, out) == (0, _installed(wanted))
    assert s.registry()["DisplayName"][1] == f"Shown %QLX_WHAT% {wanted}"


def test_install_twice_reports_the_existing_service(service):
    s = service()
    assert s.run("/install")[0] == 0
    code, out = s.run("/install")
    assert code == 280
    assert out == f"Service '{s.name}' install failed, the service already exists.\n".encode()


@pytest.mark.parametrize("switch", ["/uninstall", "--uninstall", "/-uninstall", "-uninst",
                                    "/UNINSTALL"])
def test_uninstall(service, switch):
    s = service()
    assert s.run("/install")[0] == 0
    code, out = s.run(switch)
    assert (code, out) == (0, f"Service '{s.name}' uninstalled successfully.\n".encode())
    assert s.registry() is None


def test_uninstall_of_a_missing_service(service):
    s = service()
    code, out = s.run("/uninstall")
    assert code == 282
    assert out == f"Service '{s.name}' uninstall failed, service does not exist.\n".encode()


def test_first_command_decides(service):
    s = service()
    assert s.run("/install")[0] == 0
    assert s.run("/uninstall", "/install")[0] == 0
    assert s.registry() is None


@pytest.mark.parametrize("args", [["/help"], ["-help"], ["/?"], ["-h"], ["/hello"],
                                  ["stray", "/bogus", "/help"], ["/HELP", "/install"]])
def test_help(make_app, args):
    app = make_app("")
    result = app.run(*args)
    assert (result.returncode, result.stdout) == (0, USAGE)


def test_help_fills_the_service_name(make_app):
    app = make_app("message 1024=Usage of %s (100%% sure, \\\\ %d)\n",
                   "--service-name", "Named")
    assert app.run("/help").stdout == b"Usage of Named (100% sure, \\ %d)\r\n"


def test_no_switch_prints_usage_and_returns_from_a_console(make_app):
    # The dispatcher call fails at once on Windows; Wine takes a while.
    app = make_app("")
    result = app.run("a", "/interactive", timeout=120)
    assert (result.returncode, result.stdout) == (0, USAGE)


def test_unknown_switch_from_a_console_is_an_error(service):
    s = service()
    code, out = s.run("/staus")
    assert (code, out) == (307, USAGE.replace(b"\r\n", b"\n") +
                           b"Unknown switch '/staus'; did you mean /status?\n")


def test_test_runs_the_application_with_the_following_arguments(make_app):
    app = make_app("argv first\n")
    result = app.run("x", "/test", "a", "b c", script="print-args")
    assert result.returncode == 0
    assert app.main_args() == ["first", "a", "b c"]
    assert result.stdout == b"first\na\nb c\n"


def test_test_returns_the_launch_result(make_app):
    app = make_app("", jvm="jvm_fail.dll")
    assert app.run("/test").returncode == 4


def test_service_started_by_the_manager_reaches_the_dispatcher(service):
    # The service process runs the start-up and connects to the manager
    # without printing the usage into its redirected standard output; until
    # the service runtime exists the service reports itself stopped at once.
    s = service(config="stdout service-out.txt\n")
    assert s.run("/install")[0] == 0
    out = s.app.dir / "service-out.txt"
    assert out.read_bytes() == _installed(s.name).replace(b"\n", b"\r\n")
    qlxtest.run_wine("net", "start", s.name, timeout=120)
    assert wait_for(lambda: b"STOPPED" in qlxtest.run_wine("sc", "query", s.name).stdout, 30)
    assert USAGE not in out.read_bytes()
