"""The short form of the kill soak (bench/kills_soak.py) under Wine with the
test VM: the program's process ended at random moments, as TerminateProcess
ends it, and started again at once, then ended in order."""
import sys

import qlxtest

sys.path.insert(0, str(qlxtest.ROOT / "bench"))
import kills_soak  # noqa: E402


def test_kills_leave_nothing_that_fails_or_slows_the_next_start(tmp_path):
    counts, figures = kills_soak.soak(kills_soak.Program(tmp_path, wine=True), kills=5, seed=7,
                                      max_delay_s=3.0)
    assert figures["started before the kill"] >= 1, figures
    assert counts == dict.fromkeys(counts, 0), (counts, figures)
