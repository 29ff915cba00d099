"""The service runtime under Wine's Service Control Manager: a real Java
service (Avian) reports its status, answers pause, continue and stop through
its handler, and is stopped only when its shutdown hooks have run. svcctl
starts it with start parameters and watches every status it takes."""
from service_support import wait_for

HANDLER = "property svc.handler=true\n"


def states(seen):
    """The states after the start, in the order they were seen, repeats collapsed."""
    out = []
    while seen and seen[0]["state"] == 1:  # not started yet
        seen = seen[1:]
    for status in seen:
        if not out or out[-1] != status["state"]:
            out.append(status["state"])
    return out


def test_pause_continue_and_a_stop_that_waits_for_the_shutdown_hook(service):
    s = service(HANDLER + "property svc.canPause=true\nproperty svc.pauseAnswer=true\n"
                "property svc.hookDelay=2500\n", install_args=("demand", "a1", "b 2"))
    s.start("p1", "p2", watch_ms=60000)
    assert s.wait_state(4)["accepted"] == 0x7  # stop, pause and continue, shutdown
    assert wait_for(lambda: "started" in s.record())
    assert s.control("pause")["state"] == 7
    assert s.control("continue")["state"] == 4
    assert s.control("interrogate")["state"] == 4
    pending = s.control("stop")
    assert (pending["state"], pending["accepted"], pending["checkpoint"], pending["wait"]) == \
        (3, 0, 1, 5000)
    seen = s.watched()
    assert states(seen) == [2, 4, 7, 4, 3, 1]
    assert max(x["checkpoint"] for x in seen if x["state"] == 3) >= 2  # advanced during the hook
    assert (seen[-1]["win32"], seen[-1]["accepted"]) == (0, 0)
    assert s.record() == ["main a1,b 2,p1,p2", "isRunAsService true",
                          "commandLine a1,b 2 same=true", "parameters p1,p2 same=true",
                          "canPause", "started", "onPause", "onContinue", "onStop", "shutdownHook"]


def test_fallback_reports_running_and_mainargv_orders_the_arguments(service):
    s = service("mainargv sc  \n", install_args=("demand", "x"))
    s.start("a", "b", watch_ms=40000)
    running = s.wait_state(4)
    assert running["accepted"] == 0x5  # no handler: no pause and continue
    assert s.control("stop")["state"] == 3
    seen = s.watched()
    assert states(seen) == [2, 4, 3, 1]
    started = next(x["t"] for x in seen if x["state"] == 2)
    assert next(x["t"] for x in seen if x["state"] == 4) - started >= 2500
    assert s.record() == ["main a,b,x", "isRunAsService true", "commandLine x same=true",
                          "parameters a,b same=true", "started", "shutdownHook"]


def test_a_main_that_returns_ends_the_service(service):
    s = service("mainargv s\nproperty svc.return=true\n", install_args=("demand", "x"))
    s.start("p", watch_ms=40000)
    seen = s.watched()
    assert states(seen) == [2, 4, 1]
    assert (seen[-1]["win32"], seen[-1]["specific"]) == (0, 0)
    assert s.record()[0] == "main p"
    assert s.record()[-3:] == ["started", "returning", "shutdownHook"]


def test_a_failed_launch_stops_with_its_message_id(service):
    # It never runs: the manager sees it stop while starting (Wine's start
    # call then gives up with ERROR_SERVICE_REQUEST_TIMEOUT).
    s = service("mainclass svc.Missing\n")
    s.start(watch_ms=40000, accept=("started", "error 1053"))
    seen = s.watched()
    assert states(seen) == [2, 1]
    assert (seen[-1]["win32"], seen[-1]["specific"]) == (1066, 7)
    assert b"The main startup class could not be found." in s.stderr_log.read_bytes()


def test_exit_hook_reports_the_exit_code_with_exact_calls(service):
    # The stand-in VM calls the "exit" hook as HotSpot does (Avian does not).
    s = service("export QLX_JVM_SCRIPT=log running;sleep 3500;exit 3\n", double=True)
    s.start(watch_ms=40000)
    seen = s.watched()
    assert states(seen) == [2, 4, 1]
    assert (seen[-1]["win32"], seen[-1]["specific"]) == (1066, 3)
    log = s.log()
    hook_option = log.index("option exit")
    assert log[hook_option - 1].startswith("extraInfo ")
    run_as_service = log.index("setStaticField com/tarnwick/qlx/ServiceStatusManager."
                               "isRunAsService=1")
    assert run_as_service < next(i for i, line in enumerate(log) if line.startswith("main class="))
    assert log[-2:] == ["exit 3", "exit hook 3"]


def test_a_hung_stop_is_reported_stopped_after_the_bound(service):
    s = service("property svc.hookDelay=60000\n")
    s.start(watch_ms=60000)
    s.wait_state(4)
    assert wait_for(lambda: "started" in s.record())
    s.control("stop")
    seen = s.watched()
    assert states(seen)[-2:] == [3, 1]
    pending = [x for x in seen if x["state"] == 3]
    assert pending[-1]["checkpoint"] >= 15
    assert 19000 <= seen[-1]["t"] - pending[0]["t"] <= 26000
    assert "shutdownHook" not in s.record()
