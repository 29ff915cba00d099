"""The tray under Wine and Xvfb with a real Java application (Avian):
trayctl posts what the shell would to the hidden window, xdotool chooses
from the pop-up menu, and the application's record shows every callback
Java received, in order, with the thread it ran on."""
import subprocess
import time

import qlxtest

TRAY = "t"  # trayctl: tray callback message 1124 (icon id, mouse message)
COMMAND = "c"  # trayctl: WM_COMMAND


def wait_for(predicate, timeout=30.0):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(0.1)
    return predicate()


class TrayRun:
    def __init__(self, tmp_path, jar, trayctl):
        self.record_path = tmp_path / "record.txt"
        self.trayctl = trayctl
        exe = qlxtest.wrap(qlxtest.STUB_WIN, jar, "mainclass tr.TrayApp\n" + qlxtest.avian_config() +
                           f"property tray.record={qlxtest.wine_path(self.record_path)}\n",
                           tmp_path / "tray.exe", "--support")
        self.process = subprocess.Popen(["wine", str(exe), "/test"], env=qlxtest.wine_env(),
                                        cwd=tmp_path, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def record(self):
        return (self.record_path.read_text().splitlines() if self.record_path.exists() else [])

    def wait_line(self, line):
        assert wait_for(lambda: line in self.record()), (line, self.record())

    def post(self, *actions):
        result = qlxtest.run_wine(self.trayctl, "w", 20000, *actions, "s", 300, timeout=60)
        assert result.returncode == 0, "no QLXMESSAGE window"

    def close(self):
        try:
            return self.process.wait(timeout=30)
        finally:
            if self.process.poll() is None:
                self.process.kill()


def xdotool(*args):
    subprocess.run(["xdotool", *map(str, args)], env=qlxtest.wine_env(), check=True, timeout=20)


def test_notifications_and_menu_commands_reach_java_on_the_window_thread(tmp_path, tray_jar,
                                                                         trayctl):
    run = TrayRun(tmp_path, tray_jar, trayctl)
    try:
        run.wait_line("ready")
        # Icons 1, 2 shown; 3 finalised; 4 never shown; 99 never made.
        # Items 0 and 1000 reach Java, 1001 (51001) and -1 (49999) do not.
        run.post(TRAY, 1, 0x201, TRAY, 2, 0x202, TRAY, 3, 0x200, TRAY, 4, 0x201, TRAY, 99, 0x201,
                 COMMAND, 50000, COMMAND, 51000, COMMAND, 51001, COMMAND, 49999, COMMAND, 50003)
        run.wait_line("command 3 attached")

        # A right click opens the menu at the pointer; while it is open the
        # window thread still forwards notifications (nested in OnMouseClick).
        xdotool("mousemove", 300, 300)
        run.post(TRAY, 1, 0x204, TRAY, 1, 0x205)
        run.wait_line("popup")
        time.sleep(0.5)
        run.post(TRAY, 2, 0x200)
        run.wait_line("click second 0x200 attached")
        xdotool("mousemove", 320, 327, "sleep", 0.6, "mousemove", 380, 327, "sleep", 0.6,
                "click", 1)  # More > Three
        run.wait_line("popup closed")
        run.wait_line("command 3 attached")

        # Item 8 clears the callback: later commands and clicks are dropped.
        run.post(COMMAND, 50008, COMMAND, 50000, TRAY, 1, 0x201)
        assert run.close() == 0
    finally:
        run.close()
    assert run.record() == [
        "ready",
        "click first 0x201 attached", "click second 0x202 attached", "click null 0x201 attached",
        "command 0 attached", "command 1000 attached", "command 3 attached",
        "click first 0x204 attached", "click first 0x205 attached", "popup",
        "click second 0x200 attached", "popup closed", "command 3 attached",
        "command 8 attached", "end"]
