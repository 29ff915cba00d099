"""The service runtime under Wine's Service Control Manager: a real Java
service (Avian) reports its status, answers pause, continue and stop through
its handler, and is stopped only when its shutdown hooks have run, or at the
stop bound, when its process is ended too. svcctl starts it with start
parameters and watches every status it takes and the end of its process."""
import time

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
                "property svc.hookDelay=2500\nproperty svc.pauseDelay=2500\n",
                install_args=("demand", "a1", "b 2"))
    s.start("p1", "p2", watch_ms=60000)
    # stop, pause and continue, shutdown, preshutdown
    assert s.wait_state(4)["accepted"] == 0x107
    assert wait_for(lambda: "started" in s.record())
    # A slow onPause: the manager hears "pause pending" at once, then paused.
    began = time.monotonic()
    assert s.control("pause")["state"] == 6
    assert time.monotonic() - began < 5
    assert s.wait_state(7)
    assert s.control("continue")["state"] == 4
    assert s.control("interrogate")["state"] == 4
    pending = s.control("stop")
    assert (pending["state"], pending["accepted"], pending["checkpoint"], pending["wait"]) == \
        (3, 0, 1, 20000)  # the default bound of 20 s
    seen = s.watched()
    assert states(seen) == [2, 4, 6, 7, 4, 3, 1]
    assert max(x["checkpoint"] for x in seen if x["state"] == 3) >= 2  # advanced during the hook
    assert (seen[-1]["win32"], seen[-1]["accepted"]) == (0, 0)
    assert s.record() == ["main a1,b 2,p1,p2", "isRunAsService true",
                          "commandLine a1,b 2 same=true", "parameters p1,p2 same=true",
                          "canPause", "started", "onPause", "onContinue", "onStop", "onStopDone",
                          "shutdownHook"]


def test_fallback_reports_running_and_mainargv_orders_the_arguments(service):
    s = service("mainargv sc  \n", install_args=("demand", "x"))
    s.start("a", "b", watch_ms=40000)
    running = s.wait_state(4)
    assert running["accepted"] == 0x105  # no handler: no pause and continue
    assert s.control("stop")["state"] == 3
    seen = s.watched()
    # With no hook to wait for, the pending stop (the reply above shows it)
    # can pass between two of the watcher's looks on a loaded machine.
    assert states(seen) in ([2, 4, 3, 1], [2, 4, 1])
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
    # Its exit then takes a while: the dispatcher, which returns once the
    # stopped state is reported, must leave the VM to the exiting thread.
    s = service("export QLX_JVM_SCRIPT=log running;sleep 3500;exit 3\n"
                "export QLX_JVM_EXIT_DELAY=1500\n", double=True)
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


def test_a_hung_stop_ends_the_process_at_the_bound_and_only_then_is_stopped(service):
    s = service("property svc.hookDelay=10000\nstoptimeout 3\n")
    s.start(watch_ms=60000)
    s.wait_state(4)
    assert wait_for(lambda: "started" in s.record())
    assert s.control("stop")["wait"] == 3000
    seen = s.watched()
    assert states(seen)[-2:] == [3, 1]
    pending = [x for x in seen if x["state"] == 3]
    stopped = seen[-1]["t"]
    assert pending[-1]["checkpoint"] >= 2
    assert 2500 <= stopped - pending[0]["t"] <= 6000
    assert (seen[-1]["win32"], seen[-1]["accepted"]) == (0, 0)
    # The process is gone as the manager hears "stopped", long before the
    # hook would have ended.
    assert s.process_ended is not None and abs(s.process_ended - stopped) <= 1000
    assert "shutdownHook" not in s.record()
    assert b"The service stop took longer than 3 s; the process is ended." in \
        s.stderr_log.read_bytes()


def test_a_long_on_stop_neither_fails_the_stop_nor_blocks_other_controls(service):
    s = service(HANDLER + "property svc.stopDelay=45000\nproperty svc.hookDelay=1000\n"
                "stoptimeout 90\n")
    s.start(watch_ms=120000)
    s.wait_state(4)
    assert wait_for(lambda: "started" in s.record())
    began = time.monotonic()
    pending = s.control("stop")
    assert (pending["state"], pending["wait"]) == (3, 90000)
    assert time.monotonic() - began < 5
    assert wait_for(lambda: "onStop" in s.record())
    # While onStop runs the manager answers at once: it refuses further
    # controls of a stopping service itself (1061), and its record shows the
    # stop progressing.
    for word in ("interrogate", "pause", "stop"):
        began = time.monotonic()
        answer = s.control(word)
        assert answer == "error 1061" or answer["state"] == 3, (word, answer)
        assert time.monotonic() - began < 5, word
    first = s.query()
    time.sleep(2.5)
    later = s.query()
    assert (first["state"], later["state"]) == (3, 3)
    assert later["checkpoint"] > first["checkpoint"]
    seen = s.watched(timeout=150)
    assert states(seen)[-2:] == [3, 1]
    pending = [x for x in seen if x["state"] == 3]
    stopped = seen[-1]["t"]
    assert stopped - pending[0]["t"] >= 45000  # not before onStop and the hook ended
    assert s.process_ended is not None and s.process_ended >= stopped - 1000
    assert (seen[-1]["win32"], seen[-1]["specific"]) == (0, 0)
    assert s.record()[-3:] == ["onStop", "onStopDone", "shutdownHook"]
    assert b"took longer" not in s.stderr_log.read_bytes()


def test_system_exit_on_the_test_vm_reports_stopped_with_its_code(service):
    # The test VM ignores the JNI exit hook and calls the runtime's exit
    # itself: the manager still learns STOPPED and the code, the process is
    # gone, and the service starts again.
    s = service("property svc.report=4\nproperty svc.exit=3\n")
    for run in (1, 2):
        s.start(watch_ms=40000)
        seen = s.watched()
        assert states(seen) == [2, 4, 1], run
        assert (seen[-1]["win32"], seen[-1]["specific"], seen[-1]["accepted"]) == (1066, 3, 0)
        assert s.process_ended is not None
        assert s.record().count("shutdownHook") == run  # in order: after the hooks
    log = s.stderr_log.read_text(errors="replace")
    assert log.count("ended, exit code 3.") == 2

    clean = service("property svc.report=4\nproperty svc.exit=0\n")
    clean.start(watch_ms=40000)
    seen = clean.watched()
    assert states(seen) == [2, 4, 1]
    assert (seen[-1]["win32"], seen[-1]["specific"]) == (0, 0)
