"""The short form of bench/service_cycles.py: ten start/stop cycles of the
real Java service under Wine's manager, the stop sent while starting, right
after running, while paused or during a slow onStop; no failed control, no
hang, no overlapping processes, no lost or doubled lines."""
import sys

import qlxtest

sys.path.insert(0, str(qlxtest.ROOT / "bench"))
import service_cycles  # noqa: E402


def test_ten_cycles_with_stops_at_random_points(tmp_path, service_jar, svcctl):
    counts = service_cycles.run_cycles(10, 22, tmp_path / "cycles", service_jar, svcctl,
                                       report=None)
    assert counts["cycles"] == 10
    assert counts.failures() == {}, counts.notes
