"""Letter v of discovery under Wine: the runtimes the vendors' installers
register, in both registry views of HKLM and HKCU, the newest within the
limits, v asked only after the order found nothing, and a trace naming every
candidate with its verdict. Homes hold the stand-in jvm.dll and a release file."""
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
    ("Azul Systems\\Zulu\\zulu-22", "InstallationPath", "22.0.1"),  # the newest
    ("Amazon\\Amazon Corretto\\11.0.21.9\\MSI", "INSTALLDIR", "11.0.21"),
    ("BellSoft\\Liberica\\JDK 20\\MSI", "Path", "20.0.2"),
]


def make_home(path, version):
    (path / "release").parent.mkdir(parents=True, exist_ok=True)
    (path / "release").write_text(f'IMPLEMENTOR="test"\nJAVA_VERSION="{version}"\n')
    return place_double(path / "bin" / "server" / "jvm.dll")


@pytest.mark.parametrize("hive, view", [("HKLM", 64), ("HKLM", 32), ("HKCU", 64), ("HKCU", 32)])
def test_every_vendor_shape_in_each_hive_and_view(tmp_path, make_app, keys, hive, view):
    libs = [make_home(tmp_path / f"rt{i}", version) for i, (_, _, version) in enumerate(SHAPES)]
    keys.write(view, {f"{hive}\\SOFTWARE\\{key}": {name: win(lib if name == "RuntimeLib"
                                                              else lib.parents[2])}
                      for (key, name, _), lib in zip(SHAPES, libs)})
    trace = tmp_path / "trace.txt"
    r = make_app("mainclass sample.Main\njre_order v\n").run(
        "/test", env={"_BROVANE_TRACE_": win(trace)})
    assert r.returncode == 0 and same_path(r.library, libs[9]), r.explain()
    text = trace.read_text().lower()
    for lib in libs:
        assert f"{win(lib.parents[2])}: within the limits".lower() in text, text


def test_installed_runtimes_only_after_the_order_found_nothing(tmp_path, make_app, keys):
    installed = make_home(tmp_path / "zulu", "21.0.1")
    keys.write(64, {"HKLM\\SOFTWARE\\Azul Systems\\Zulu\\zulu-21":
                    {"InstallationPath": win(tmp_path / "zulu")}})
    older = make_home(tmp_path / "older", "11.0.2")
    app, trace = make_app("mainclass sample.Main\n"), tmp_path / "trace.txt"
    r = app.run("/test", env={"JAVA_HOME": win(tmp_path / "older"), "_BROVANE_TRACE_": win(trace)})
    assert r.returncode == 0 and same_path(r.library, older), r.explain()
    text = trace.read_text()
    assert "discovery order cbsiev" in text and " discovery v " not in text, text
    # Without JAVA_HOME v finds it; a trace that cannot be written changes nothing.
    r = app.run("/test", env={"_BROVANE_TRACE_": win(tmp_path / "no" / "dir" / "t.txt")})
    assert r.returncode == 0 and same_path(r.library, installed), r.explain()
    assert r.stdout == "" and "qlx +" not in r.stderr_log, r.explain()


def test_trace_names_every_candidate_and_why(tmp_path, make_app, keys):
    good = make_home(tmp_path / "good", "17.0.2")
    make_home(tmp_path / "new", "25.0.1")
    (tmp_path / "empty").mkdir()
    adoptium = "HKLM\\SOFTWARE\\Eclipse Adoptium\\JDK\\"
    keys.write(64, {
        adoptium + "1\\hotspot\\MSI": {"Path": 17},            # a number
        adoptium + "2\\hotspot\\MSI": {"Path": b"Z:\\x"},     # bytes
        adoptium + "3\\hotspot\\MSI": {},                     # no value
        "HKLM\\SOFTWARE\\Azul Systems\\Zulu\\zulu-9": {"InstallationPath": win(tmp_path / "gone")},
        "HKLM\\SOFTWARE\\Microsoft\\JDK\\11.0.1.1\\hotspot\\MSI": {"Path": win(tmp_path / "empty")},
        "HKLM\\SOFTWARE\\JavaSoft\\JDK\\25": {"JavaHome": win(tmp_path / "new")},
    })
    keys.write(32, {"HKLM\\SOFTWARE\\JavaSoft\\JDK\\17": {"JavaHome": win(tmp_path / "good")}})
    app = make_app("mainclass sample.Main\njre_order cv\nmaxjre 21\noption -Xmx64m\n")
    r = app.run("/test", env={"_BROVANE_TRACE_": "1", "QLX_JVM_VERSION": "17.0.2"})
    assert r.returncode == 0 and same_path(r.library, good), r.explain()
    lines = [line for line in r.stderr_log.splitlines() if line.startswith("qlx +")]
    text = "\n".join(lines).lower()
    for fragment in [
            "payload found in ", "configuration: embedded block, no external file",
            "working directory ", "standard error to ", "integrity check passed",
            "single instance: off", "discovery order cv", "discovery c jvmdll: not configured",
            "jdk\\1\\hotspot\\msi path: not readable", "jdk\\2\\hotspot\\msi path: not readable",
            "jdk\\3\\hotspot\\msi: not configured", win(tmp_path / "gone") + ": not readable",
            win(tmp_path / "empty") + ": no library in this home",
            win(tmp_path / "new") + ": version outside the limits",
            win(tmp_path / "good") + ": within the limits, the newest so far",
            "discovery v chosen " + win(tmp_path / "good"), "vm option -xmx64m",
            "vm calling jni_createjavavm", "vm created"]:
        assert fragment.lower() in text, f"{fragment!r} missing from:\n{text}"
    stamps = [int(line[5:line.index("ms ")]) for line in lines]
    assert stamps == sorted(stamps), text
