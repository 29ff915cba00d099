"""Wine's own shell once: the tray application runs inside a Wine virtual
desktop, whose taskbar has a notification area. The icons appear there,
the balloon of the icon made with both balloon texts pops up, pointing at
the icons sends real WM_MOUSEMOVE notifications to Java and shows the tool
tip. The screenshot is kept as tray.png in the test's directory."""
import subprocess
import time

import qlxtest
from test_wine_tray import wait_for

DESKTOP = "qlxtray"
SIZE = (640, 480)


def pixels(png, box):
    """RGB triples of the box (x, y, width, height) of a screenshot."""
    x, y, w, h = box
    ppm = subprocess.run(["convert", str(png), "-crop", f"{w}x{h}+{x}+{y}", "+repage", "ppm:-"],
                         capture_output=True, check=True).stdout
    data = ppm[ppm.index(b"255\n") + 4:]
    return [tuple(data[i:i + 3]) for i in range(0, len(data), 3)]


def count(png, box, test):
    return sum(1 for p in pixels(png, box) if test(*p))


def screenshot(png, env):
    subprocess.run(["import", "-window", "root", "-crop", f"{SIZE[0]}x{SIZE[1]}+0+0", str(png)],
                   env=env, check=True, timeout=30)


def test_wine_shell_shows_the_icons_balloon_and_tool_tip(tmp_path, tray_jar, trayctl):
    record = tmp_path / "record.txt"
    exe = qlxtest.wrap(qlxtest.STUB_WIN, tray_jar, "mainclass tr.TrayApp\n" + qlxtest.avian_config() +
                       f"property tray.record={qlxtest.wine_path(record)}\n", tmp_path / "tray.exe",
                       "--support")
    desktop = f"/desktop={DESKTOP},{SIZE[0]}x{SIZE[1]}"
    app = subprocess.Popen(["wine", "explorer", desktop, str(exe), "/test"], env=qlxtest.wine_env(),
                           cwd=tmp_path, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
    env = qlxtest.wine_env()
    try:
        lines = lambda: record.read_text().splitlines() if record.exists() else []  # noqa: E731
        assert wait_for(lambda: "ready" in lines())
        time.sleep(1.5)
        before = tmp_path / "before.png"
        screenshot(before, env)
        # The taskbar ends in the notification area: the second icon, then the first.
        for x in (610, 630):
            subprocess.run(["xdotool", *map(str, ("mousemove", x - 10, 470, "sleep", 0.3, "mousemove", x,
                                                   470, "sleep", 0.3, "mousemove", x + 1, 471))], env=env, check=True, timeout=20)
            time.sleep(2.5)
        shot = tmp_path / "tray.png"
        screenshot(shot, env)
        assert wait_for(lambda: {"click second 0x200 attached", "click first 0x200 attached"}
                        <= set(lines()), timeout=10), lines()

        def blue(r, g, b):
            return b > 150 and r < 90  # the application icon's ring

        def light(r, g, b):
            return min(r, g, b) > 220

        # Two icons in the notification area (the first was shown twice).
        area = (540, 462, 100, 18)
        row = pixels(shot, area)
        columns = [any(blue(*row[y * area[2] + x]) for y in range(area[3])) for x in range(area[2])]
        assert sum(1 for x in range(area[2]) if columns[x] and (x == 0 or not columns[x - 1])) == 2
        assert count(shot, (60, 462, 80, 18), blue) == 0  # the empty taskbar beside them
        assert count(shot, (525, 405, 100, 25), light) > 1000  # the balloon over the icons
        tip = (560, 440, 78, 18)  # the tool tip of the first icon, over the balloon
        assert sum(a != b for a, b in zip(pixels(before, tip), pixels(shot, tip))) > 200
    finally:
        subprocess.run(["wine", "explorer", f"/desktop={DESKTOP}", str(trayctl), "w", "5000", "c",
                        "50007"], env=env, timeout=60, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        try:
            app.wait(timeout=30)
        finally:
            if app.poll() is None:
                app.kill()
    assert lines()[-2:] == ["command 7 attached", "end"]
