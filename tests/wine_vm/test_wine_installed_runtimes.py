"""Letter v of discovery under Wine: the runtimes that the vendors'
installers register, in both registry views of HKLM and HKCU; the newest
within minjre/maxjre; v asked only when the earlier letters find nothing;
and the start-up trace naming every candidate with its verdict. Each home
holds a copy of the stand-in jvm.dll and a release file."""
import pytest

from wine_vm_support import place_double, same_path, win

# Key below SOFTWARE, the value naming the home, the home's release version.
SHAPES = [
    ("JavaSoft\\JDK\\21", "JavaHome", "21.0.2"),
    ("JavaSoft\\JRE\\1.8", "RuntimeLib", "1.8.0_392"),
    ("JavaSoft\\Java Development Kit\\1.8", "JavaHome", "1.8.0_391"),
    ("IBM\\Java2 Runtime Environment\\1.8", "JavaHome", "1.8.0_381"),
    ("Eclipse Adoptium\\JDK\\17.0.9.9\\hotspot\\MSI", "Path", "17.0.9"),
    ("AdoptOpenJDK\\JRE\\11.0.20.8\\openj9\\MSI", "Path", "11.0.20"),
    ("Eclipse Foundation\\JDK\\16.0.2.7\\hotspot\\MSI", "Path", "16.0.2"),
    ("Microsoft\\JDK\\21.0.5.11\\hotspot\\MSI", "Path", "21.0.5"),
    ("Semeru\\JDK\\17.0.8.7\\openj9\\MSI", "Path", "17.0.8"),
    ("Azul Systems\\Zulu\\zulu-22", "InstallationPath", "22.0.1"),
    ("Amazon\\Amazon Corretto\\11.0.21.9\\MSI", "INSTALLDIR", "11.0.21"),
    ("BellSoft\\Liberica\\JDK 20\\MSI", "Path", "20.0.2"),
]


def make_home(path, version=None):
    """A Java home: bin\\server\\jvm.dll and, when given, a release file."""
    lib = place_double(path / "bin" / "server" / "jvm.dll")
    if version:
        (path / "release").write_text(f'IMPLEMENTOR="test"\nJAVA_VERSION="{version}"\n')
    return lib


def trace_of(run, path):
    return path.read_text("utf-8", "replace").splitlines() if path.exists() else []


def verdict(lines, home):
    """The verdict the trace gives a home ("" when it names none)."""
    w = win(home).lower()
    for line in lines:
        if line.lower().startswith(("qlx +",)) and " discovery v " in line and w in line.lower():
            return line.split(": ", 1)[1] if ": " in line else ""
    return ""


@pytest.mark.parametrize("hive, view", [("HKLM", 64), ("HKLM", 32), ("HKCU", 64), ("HKCU", 32)])
def test_every_vendor_shape_in_each_hive_and_view(tmp_path, make_app, keys, hive, view):
    homes, values = [], {}
    for i, (key, name, version) in enumerate(SHAPES):
        home = tmp_path / f"rt{i}"
        lib = make_home(home, version)
        homes.append(home)
        values[f"{hive}\\SOFTWARE\\{key}"] = {name: win(lib if name == "RuntimeLib" else home)}
    keys.write(view, values)
    trace = tmp_path / "trace.txt"
    r = make_app("mainclass sample.Main\njre_order v\n").run(
        "/test", env={"_BROVANE_TRACE_": win(trace)})
    assert r.returncode == 0, r.explain()
    newest = homes[[s[0] for s in SHAPES].index("Azul Systems\\Zulu\\zulu-22")]
    assert same_path(r.library, newest / "bin" / "server" / "jvm.dll"), r.explain()
    lines = trace_of(r, trace)
    for home in homes:
        assert "within the limits" in verdict(lines, home), (home, "\n".join(lines))


@pytest.mark.parametrize("config, winner", [
    ("", "21"),
    ("minjre 11\n", "21"),
    ("maxjre 17\n", "17"),
    ("maxjre 1.8\n", "8"),
    ("minjre 22\n", None),
])
def test_newest_version_within_the_limits(tmp_path, make_app, keys, config, winner):
    # Java 8 known by its MSI version only (8.0.392.8 reads as 1.8.0_392),
    # 17 and 21 by their release files; one per view and hive.
    libs = {"8": make_home(tmp_path / "j8"), "17": make_home(tmp_path / "j17", "17.0.9"),
            "21": make_home(tmp_path / "j21", "21.0.1")}
    keys.write(64, {"HKLM\\SOFTWARE\\Eclipse Adoptium\\JRE\\8.0.392.8\\hotspot\\MSI":
                    {"Path": win(tmp_path / "j8") + "\\"}})
    keys.write(32, {"HKLM\\SOFTWARE\\Azul Systems\\Zulu\\zulu-17":
                    {"InstallationPath": win(tmp_path / "j17")}})
    keys.write(64, {"HKCU\\SOFTWARE\\JavaSoft\\JDK\\21": {"JavaHome": win(tmp_path / "j21")}})
    versions = {"8": "1.8.0_392", "17": "17.0.9", "21": "21.0.1"}
    app = make_app("mainclass sample.Main\njre_order v\n" + config)
    r = app.run("/test", env={"QLX_JVM_VERSION": versions.get(winner, "1")})
    if winner is None:
        assert r.returncode == 1, r.explain()
        assert r.stdout == "Java Runtime Environment not found.\n"
    else:
        assert r.returncode == 0, r.explain()
        assert same_path(r.library, libs[winner]), r.explain()


def test_installed_runtimes_are_asked_only_when_the_order_finds_nothing(tmp_path, make_app, keys):
    installed = make_home(tmp_path / "zulu", "21.0.1")
    keys.write(64, {"HKLM\\SOFTWARE\\Azul Systems\\Zulu\\zulu-21":
                    {"InstallationPath": win(tmp_path / "zulu")}})
    java_home = make_home(tmp_path / "older", "11.0.2")
    trace = tmp_path / "trace.txt"
    app = make_app("mainclass sample.Main\n")
    r = app.run("/test", env={"JAVA_HOME": win(tmp_path / "older"), "_BROVANE_TRACE_": win(trace)})
    assert r.returncode == 0 and same_path(r.library, java_home), r.explain()
    lines = trace_of(r, trace)
    assert any("discovery order cbsiev" in line for line in lines), lines
    assert not any(" discovery v " in line for line in lines), lines
    # The same start without JAVA_HOME ends with v; a trace file that cannot
    # be written changes nothing.
    r = app.run("/test", env={"_BROVANE_TRACE_": win(tmp_path / "no" / "such" / "dir.txt")})
    assert r.returncode == 0 and same_path(r.library, installed), r.explain()
    assert r.stdout == "" and "qlx +" not in r.stderr_log, r.explain()


def test_trace_names_every_candidate_and_why(tmp_path, make_app, keys):
    good = make_home(tmp_path / "good", "17.0.2")
    make_home(tmp_path / "new", "25.0.1")
    (tmp_path / "empty").mkdir()
    base = "HKLM\\SOFTWARE\\Eclipse Adoptium\\JDK\\"
    keys.write(64, {
        base + "1\\hotspot\\MSI": {"Path": 17},                            # a number
        base + "2\\hotspot\\MSI": {"Path": b"Z:\\\\x"},                     # bytes
        base + "3\\hotspot\\MSI": {},                                       # no value
        "HKLM\\SOFTWARE\\Azul Systems\\Zulu\\zulu-9": {"InstallationPath": win(tmp_path / "gone")},
        "HKLM\\SOFTWARE\\Microsoft\\JDK\\11.0.1.1\\hotspot\\MSI": {"Path": win(tmp_path / "empty")},
        "HKLM\\SOFTWARE\\JavaSoft\\JDK\\25": {"JavaHome": win(tmp_path / "new")},
    })
    keys.write(32, {"HKLM\\SOFTWARE\\JavaSoft\\JDK\\17": {"JavaHome": win(tmp_path / "good")}})
    app = make_app("mainclass sample.Main\njre_order cv\nmaxjre 21\noption -Xmx64m\n")
    r = app.run("/test", env={"_BROVANE_TRACE_": "1", "QLX_JVM_VERSION": "17.0.2"})
    assert r.returncode == 0 and same_path(r.library, good), r.explain()
    lines = [line for line in r.stderr_log.splitlines() if line.startswith("qlx +")]
    text = "\n".join(lines)
    expected = [  # a fragment of each line the start must explain itself with
        "payload found in ", "configuration: embedded block, no external file",
        "working directory ", "standard error to ", "integrity check passed",
        "single instance: off", "discovery order cv", "discovery c jvmdll: not configured",
        "JDK\\1\\hotspot\\MSI Path: not readable (no text)",
        "JDK\\2\\hotspot\\MSI Path: not readable (no text)",
        "JDK\\3\\hotspot\\MSI: not configured",
        win(tmp_path / "gone") + ": not readable",
        win(tmp_path / "empty") + ": no library in this home",
        win(tmp_path / "new") + ": version outside the limits",
        win(tmp_path / "good") + ": within the limits, the newest so far",
        "discovery v chosen " + win(tmp_path / "good"), "vm option -Xmx64m",
        "vm calling JNI_CreateJavaVM", "vm created",
    ]
    for fragment in expected:
        assert fragment.lower() in text.lower(), f"{fragment!r} missing from:\n{text}"
    # Milliseconds since start, never going back.
    stamps = [int(line[5:line.index("ms ")]) for line in lines]
    assert stamps == sorted(stamps), text
