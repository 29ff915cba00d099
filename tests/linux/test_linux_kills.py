"""The short form of the kill soak (bench/kills_soak.py) on Linux with
HotSpot: a program writing rotated logs and sending instance messages,
killed at random moments and started again at once, then ended in order."""
import sys

import pytest

import qlxtest

sys.path.insert(0, str(qlxtest.ROOT / "bench"))
import kills_soak  # noqa: E402


def test_kills_leave_nothing_that_fails_or_slows_the_next_start(tmp_path):
    program = kills_soak.Program(tmp_path, wine=False)
    try:
        counts, figures = kills_soak.soak(program, kills=15, seed=7, max_delay_s=2.0)
    finally:
        program.cleanup()
    assert figures["started before the kill"] >= 5, figures
    assert counts == dict.fromkeys(counts, 0), (counts, figures)
