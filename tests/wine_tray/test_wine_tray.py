"""The tray under Wine and Xvfb with a real Java application (Avian). The
application's record shows every callback Java received, in order, with
the thread it ran on. First trayctl plays the shell to the hidden window
and xdotool chooses from the pop-up menu; then Wine's own shell, in a
virtual desktop, shows the icons and sends real mouse notifications."""
import subprocess
import time

import qlxtest

T, C = "t", "c"  # trayctl: tray message 1124 (icon id, mouse message); WM_COMMAND


def wait_for(predicate, timeout=30.0):
    end = time.monotonic() + timeout
    while time.monotonic() < end and not predicate():
        time.sleep(0.1)
    return predicate()


def xdotool(*args):
    subprocess.run(["xdotool", *map(str, args)], env=qlxtest.wine_env(), check=True, timeout=20)


def pixels(png, box):
    """RGB triples of the box (x, y, width, height) of a picture."""
    x, y, w, h = box
    ppm = subprocess.run(["convert", str(png), "-crop", f"{w}x{h}+{x}+{y}", "+repage", "ppm:-"],
                         capture_output=True, check=True).stdout
    data = ppm[ppm.index(b"255\n") + 4:]
    return [tuple(data[i:i + 3]) for i in range(0, len(data), 3)]


class TrayRun:
    def __init__(self, tmp_path, jar, *launch, config=""):
        self.path = tmp_path / "record.txt"
        config += ("mainclass tr.TrayApp\n" + qlxtest.avian_config() +
                   f"property tray.record={qlxtest.wine_path(self.path)}\n")
        exe = qlxtest.wrap(qlxtest.STUB_WIN, jar, config, tmp_path / "tray.exe", "--support")
        self.process = subprocess.Popen(["wine", *launch, str(exe), "/test"],
                                        env=qlxtest.wine_env(), cwd=tmp_path,
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        self.wait_line("ready")

    def record(self):
        return self.path.read_text().splitlines() if self.path.exists() else []

    def wait_line(self, line):
        assert wait_for(lambda: line in self.record()), (line, self.record())

    def end(self):
        try:
            return self.process.wait(timeout=30)
        finally:
            if self.process.poll() is None:
                self.process.kill()


def test_notifications_and_menu_commands_reach_java_on_the_window_thread(tmp_path, tray_jar,
                                                                         trayctl):
    def post(*actions):
        assert qlxtest.run_wine(trayctl, "w", 20000, *actions, "s", 300).returncode == 0

    run = TrayRun(tmp_path, tray_jar)
    try:
        # Icons 1, 2 shown; 3 finalised; 4 never shown; 99 never made.
        # Items 0 and 1000 reach Java, 1001 (51001) and -1 (49999) do not.
        post(T, 1, 0x201, T, 2, 0x202, T, 3, 0x200, T, 4, 0x201, T, 99, 0x201,
             C, 50000, C, 51000, C, 51001, C, 49999, C, 50003)
        run.wait_line("command 3 daemon")
        # A right click opens the menu at the pointer; while it is open the
        # window thread still forwards notifications (nested in OnMouseClick).
        xdotool("mousemove", 300, 300)
        post(T, 1, 0x204, T, 1, 0x205)
        run.wait_line("popup")
        time.sleep(0.5)
        post(T, 2, 0x200)
        run.wait_line("click second 0x200 daemon")
        xdotool("mousemove", 320, 327, "sleep", 0.6, "mousemove", 380, 327, "sleep", 0.6,
                "click", 1)  # More > Three
        run.wait_line("command 3 daemon")
        # Item 8 clears the callback: later commands and clicks are dropped.
        post(C, 50008, C, 50000, T, 1, 0x201)
        assert run.end() == 0
    finally:
        run.end()
    assert run.record() == [
        "ready",
        "click first 0x201 daemon", "click second 0x202 daemon", "click null 0x201 daemon",
        "command 0 daemon", "command 1000 daemon", "command 3 daemon",
        "click first 0x204 daemon", "click first 0x205 daemon", "popup",
        "click second 0x200 daemon", "popup closed", "command 3 daemon",
        "command 8 daemon", "end"]


def test_main_returning_while_a_menu_is_open_ends_the_run(tmp_path, tray_jar, trayctl):
    # The window thread waits in the menu inside OnMouseClick; the end of the
    # run closes the menu instead of waiting for the user.
    run = TrayRun(tmp_path, tray_jar, config="property tray.endWithMenu=true\n")
    try:
        xdotool("mousemove", 300, 300)
        assert qlxtest.run_wine(trayctl, "w", 20000, T, 1, 0x205, "s", 300).returncode == 0
        run.wait_line("end")
        began = time.monotonic()
        assert run.end() == 0
        assert time.monotonic() - began < 10
    finally:
        run.end()
    assert run.record()[-4:] == ["click first 0x205 daemon", "popup", "end", "popup closed"]


def test_wine_shell_shows_icons_balloon_tool_tip_and_menu(tmp_path, tray_jar):
    run = TrayRun(tmp_path, tray_jar, "explorer", "/desktop=qlxtray,640x480")
    shots = [tmp_path / "before.png", tmp_path / "tray.png"]  # tray.png: docs/tray.png
    try:
        time.sleep(1.5)
        for shot, x in zip(shots, (None, 630)):
            if x:  # the notification area ends the taskbar: second icon, then first
                xdotool("mousemove", 600, 470, "sleep", 0.3, "mousemove", 610, 470, "sleep", 2,
                        "mousemove", x - 10, 470, "sleep", 0.3, "mousemove", x, 470)
                time.sleep(2.5)
            subprocess.run(["import", "-window", "root", "-crop", "640x480+0+0", str(shot)],
                           env=qlxtest.wine_env(), check=True, timeout=30)
        xdotool("click", 3)
        run.wait_line("popup")
        xdotool("mousemove", 603, 467, "sleep", 0.5, "click", 1)  # Quit
        assert run.end() == 0
    finally:
        run.end()
    clicks = [line for line in run.record() if "0x200" not in line]  # moves come any time
    assert clicks[-6:] == ["click first 0x204 daemon", "click first 0x205 daemon", "popup",
                           "popup closed", "command 7 daemon", "end"]
    assert {"click second 0x200 daemon", "click first 0x200 daemon"} <= set(run.record())

    def blue(r, g, b):
        return b > 150 and r < 90  # the ring of the application icon

    area = (540, 462, 100, 18)  # two icons in the notification area: one per Show
    rows = pixels(shots[1], area)
    columns = [any(blue(*rows[y * area[2] + x]) for y in range(area[3])) for x in range(area[2])]
    assert sum(1 for x in range(area[2]) if columns[x] and (x == 0 or not columns[x - 1])) == 2
    assert not any(blue(*p) for p in pixels(shots[1], (60, 462, 80, 18)))  # empty taskbar
    # The balloon of the icon with both balloon texts, over the blue desktop.
    assert sum(1 for p in pixels(shots[1], (525, 405, 100, 25)) if min(p) > 220) > 1000
    tip = (560, 440, 78, 18)  # the first icon's tool tip, drawn over the balloon
    assert sum(a != b for a, b in zip(pixels(shots[0], tip), pixels(shots[1], tip))) > 200
