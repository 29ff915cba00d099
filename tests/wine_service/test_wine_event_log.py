"""The event log natives on the real Java VM: Wine's event log functions are
stubs that trace their arguments, so the trace shows what the natives passed."""
import re

import qlxtest


def test_event_log_calls_reach_the_system_as_given(tmp_path, eventlog_jar):
    exe = qlxtest.wrap(qlxtest.STUB_WIN, eventlog_jar,
                       "mainclass evt.EventLogApp\n" + qlxtest.avian_config(),
                       tmp_path / "evlog.exe", "--support")
    result = qlxtest.run_wine(exe, "/test", cwd=tmp_path,
                              env={"WINEDEBUG": "fixme+advapi,warn+eventlog"})
    assert result.returncode == 0
    # The Java array is unchanged: the natives never write raw data back.
    assert result.stdout.replace(b"\r", b"") == b"data 1,2,3,-1\ndone\n"
    trace = [re.sub(r"^[0-9a-f]+:", "", line)
             for line in result.stderr.decode(errors="replace").splitlines()
             if "RegisterEventSource" in line or "ReportEvent" in line or "Deregister" in line]
    handle, strings, data = "00000000CAFE4242", r"[0-9A-F]{16}", "0000000000000000"
    expected = [
        r'fixme:advapi:RegisterEventSourceW \(\(null\),L"evlog.exe"\): stub',
        # type, category, id, no SID, three strings (a null one passed as ""), four data bytes
        rf"fixme:advapi:ReportEventW \({handle},0x0001,0x0002,0x000003e8,{data},0x0003,"
        rf"0x00000004,{strings},{strings}\): stub",
        r'err:eventlog:ReportEventW L"first"',
        r'err:eventlog:ReportEventW L""',
        r'err:eventlog:ReportEventW L"\\03a9mega"',
        rf"fixme:advapi:ReportEventW \({handle},0x0004,0x0000,0x000003e9,{data},0x0000,"
        rf"0x00000000,{data},{data}\): stub",
        # an empty array is no strings, the category keeps its low 16 bits
        rf"fixme:advapi:ReportEventW \({handle},0x0002,0x0007,0x000003ea,{data},0x0000,"
        rf"0x00000000,{data},{data}\): stub",
        r'fixme:advapi:RegisterEventSourceW \(L"\\\\\\\\remote",L"Custom Source"\): stub',
        rf"fixme:advapi:ReportEventW \({handle},0x0008,0x0003,0xfffffffe,{data},0x0001,"
        rf"0x00000000,{strings},{data}\): stub",  # (Wine traces the strings of errors only)
        # once: the report and the second finalize after it find no handle
        rf"fixme:advapi:DeregisterEventSource \({handle}\) stub",
    ]
    assert len(trace) == len(expected), "\n".join(trace)
    for line, pattern in zip(trace, expected):
        assert re.fullmatch(pattern, line), f"{line!r} !~ {pattern!r}"
