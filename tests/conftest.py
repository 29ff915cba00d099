import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))


import os

import pytest


@pytest.fixture(scope="session", autouse=True)
def user_cache(tmp_path_factory):
    """Programs on HotSpot keep class-data archives in the user's cache: the
    suites' programs keep theirs in a folder of the session's own."""
    folder = tmp_path_factory.mktemp("user-cache")
    before = os.environ.get("XDG_CACHE_HOME")
    os.environ["XDG_CACHE_HOME"] = str(folder)
    yield folder
    if before is None:
        os.environ.pop("XDG_CACHE_HOME", None)
    else:
        os.environ["XDG_CACHE_HOME"] = before


_SKIP_LINE = []


def pytest_unconfigure(config):
    """The line comes after pytest's own counts, as the run's last line."""
    reporter = config.pluginmanager.get_plugin("terminalreporter")
    if reporter is not None and _SKIP_LINE:
        reporter.write_line(_SKIP_LINE[0])


def pytest_terminal_summary(terminalreporter):
    """Ends the run with one line naming the test runtimes that were missing,
    how many tests that cost and how to provide them (also written to
    $QLX_SKIP_SUMMARY, which run-tests.sh prints last)."""
    import os
    import qlxtest
    counts = {}
    for report in terminalreporter.stats.get("skipped", []):
        reason = report.longrepr[2] if isinstance(report.longrepr, tuple) else str(report.longrepr)
        for missing, how in ((qlxtest.NO_AVIAN, qlxtest.HOW_AVIAN),
                             (qlxtest.STALE_AVIAN, qlxtest.HOW_AVIAN),
                             (qlxtest.NO_JDK25, qlxtest.HOW_JDK25),
                             (qlxtest.NO_MAVEN, qlxtest.HOW_BUILD_TOOLS),
                             (qlxtest.NO_GRADLE, qlxtest.HOW_BUILD_TOOLS)):
            if missing in reason:
                counts[(missing, how)] = counts.get((missing, how), 0) + 1
    if not counts:
        return
    line = "skipped: " + "; ".join(f"{n} test(s) for want of a runtime ({missing}): {how}"
                                   for (missing, how), n in counts.items())
    _SKIP_LINE.append(line)
    if os.environ.get("QLX_SKIP_SUMMARY"):
        with open(os.environ["QLX_SKIP_SUMMARY"], "a", encoding="utf-8") as out:
            out.write(line + "\n")
