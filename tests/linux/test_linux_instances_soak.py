"""Short forms of the instances soak runs (bench/instances_soak.py has the
long ones): a storm of simultaneous handover launches, and an instance
owner's resident memory over many messages. Every count must be 0."""
import sys

import qlxtest

sys.path.insert(0, str(qlxtest.ROOT / "bench"))
import instances_soak  # noqa: E402


def test_a_storm_of_handover_launches(tmp_path):
    counts, figures = instances_soak.handover_storm(
        instances_soak.linux_program(tmp_path, "handover", "storm"), 20, tmp_path)
    assert set(counts.values()) == {0}, (counts, figures)


def test_memory_of_an_owner_that_receives_many_messages(tmp_path):
    counts, figures = instances_soak.memory_soak(tmp_path, 10000)
    assert set(counts.values()) == {0}, (counts, figures)
