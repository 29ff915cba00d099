"""Runtime discovery of the Windows launcher under Wine: every source of
the search order, the JavaSoft and IBM registry keys, the environment, the
configured library and the runtime beside the program, and the order in
which a Java home is searched. Each runtime is a copy of the stand-in
jvm.dll; the one the launcher loaded names itself in the call log."""
import pytest

from wine_vm_support import place_double, same_path, win

NOT_FOUND = "Java Runtime Environment not found."
JAVASOFT = ["JRE", "JDK", "Java Runtime Environment", "Java Development Kit"]


def assert_loaded(run, path):
    assert run.returncode == 0, run.explain()
    assert run.library is not None and same_path(run.library, path), run.explain()


# ---------------------------------------------------------------------------
# The registry keys, one by one.

@pytest.mark.parametrize("product", [f"SOFTWARE\\JavaSoft\\{k}" for k in JAVASOFT]
                         + ["SOFTWARE\\IBM\\Java2 Runtime Environment"])
def test_each_product_key_with_runtime_lib(tmp_path, make_app, registry, product):
    lib = place_double(tmp_path / "rt" / "bin" / "client" / "jvm.dll")
    registry.write({product: {"CurrentVersion": "9.1"}, product + "\\9.1": {"RuntimeLib": win(lib)}})
    letter = "i" if "IBM" in product else "s"
    r = make_app(f"mainclass sample.Main\njre_order {letter}\n").run("/test")
    assert_loaded(r, lib)


def test_javasoft_keys_in_order_and_a_missing_version_skipped(tmp_path, make_app, registry):
    jre = place_double(tmp_path / "jre" / "bin" / "client" / "jvm.dll")
    jdk = place_double(tmp_path / "jdk" / "bin" / "client" / "jvm.dll")
    kit = place_double(tmp_path / "kit" / "bin" / "client" / "jvm.dll")
    base = "SOFTWARE\\JavaSoft\\"
    # "JRE" names a version subkey that is not there: the next key is tried.
    registry.write({
        base + "JRE": {"CurrentVersion": "1.5"},
        base + "JRE\\1.4": {"RuntimeLib": win(jre)},
        base + "JDK": {"CurrentVersion": "17"},
        base + "JDK\\17": {"RuntimeLib": win(jdk)},
        base + "Java Development Kit": {"CurrentVersion": "1.6"},
        base + "Java Development Kit\\1.6": {"RuntimeLib": win(kit)},
    })
    r = make_app("mainclass sample.Main\njre_order s\n").run("/test")
    assert_loaded(r, jdk)


def test_runtime_lib_pointing_nowhere_searches_two_levels_up(tmp_path, make_app, registry):
    server = place_double(tmp_path / "rt" / "bin" / "server" / "jvm.dll")
    key = "SOFTWARE\\JavaSoft\\Java Runtime Environment"
    registry.write({key: {"CurrentVersion": "1.6"},
                    key + "\\1.6": {"RuntimeLib": win(tmp_path / "rt" / "bin" / "client" / "jvm.dll")}})
    r = make_app("mainclass sample.Main\njre_order s\n").run("/test")
    assert_loaded(r, server)


def test_runtime_lib_with_a_preferred_vm_type_searches_for_it(tmp_path, make_app, registry):
    client = place_double(tmp_path / "rt" / "bin" / "client" / "jvm.dll")
    server = place_double(tmp_path / "rt" / "bin" / "server" / "jvm.dll")
    key = "SOFTWARE\\JavaSoft\\JRE"
    registry.write({key: {"CurrentVersion": "1.8"}, key + "\\1.8": {"RuntimeLib": win(client)}})
    app = make_app("mainclass sample.Main\njre_order s\nvm server\n")
    assert_loaded(app.run("/test"), server)


def test_java_home_used_without_runtime_lib(tmp_path, make_app, registry):
    lib = place_double(tmp_path / "home" / "bin" / "client" / "jvm.dll")
    key = "SOFTWARE\\JavaSoft\\JDK"
    registry.write({key: {"CurrentVersion": "11"}, key + "\\11": {"JavaHome": win(tmp_path / "home")}})
    assert_loaded(make_app("mainclass sample.Main\njre_order s\n").run("/test"), lib)


def test_version_key_without_runtime_lib_or_java_home_finds_nothing(make_app, registry):
    key = "SOFTWARE\\IBM\\Java2 Runtime Environment"
    registry.write({key: {"CurrentVersion": "1.4"}, key + "\\1.4": {}})
    r = make_app("mainclass sample.Main\njre_order i\n").run("/test")
    assert r.returncode == 1, r.explain()
    assert r.stdout == NOT_FOUND + "\n"


# ---------------------------------------------------------------------------
# Environment, configured library, runtime beside the program.

@pytest.mark.parametrize("jre_home, java_home, winner", [
    ("a", "b", "a"),          # JRE_HOME first
    ("", "b", "b"),           # empty JRE_HOME is skipped
    ("empty", "b", "b"),      # a JRE_HOME without a runtime is skipped
    (None, None, None),
])
def test_environment_variables(tmp_path, make_app, jre_home, java_home, winner):
    homes = {"a": tmp_path / "a", "b": tmp_path / "b", "empty": tmp_path / "empty"}
    libs = {k: place_double(homes[k] / "bin" / "client" / "jvm.dll") for k in ("a", "b")}
    homes["empty"].mkdir()
    env = {"JRE_HOME": jre_home and win(homes[jre_home]),
           "JAVA_HOME": java_home and win(homes[java_home])}
    if jre_home == "":
        env["JRE_HOME"] = ""
    r = make_app("mainclass sample.Main\njre_order e\n").run("/test", env=env)
    if winner is None:
        assert r.returncode == 1, r.explain()
    else:
        assert_loaded(r, libs[winner])


# The start directory is the working directory after forcecwd.
@pytest.mark.parametrize("in_home, in_cwd, winner", [
    (True, True, "home"), (False, True, "cwd"), (True, False, "home")])
def test_jvmdll_relative_to_home_then_start_directory(tmp_path, make_app, in_home, in_cwd,
                                                      winner):
    places = {"home": tmp_path / "app" / "bin" / "jvm.dll",
              "cwd": tmp_path / "cwd" / "bin" / "jvm.dll"}
    if in_home:
        place_double(places["home"])
    if in_cwd:
        place_double(places["cwd"])
    (tmp_path / "cwd").mkdir(exist_ok=True)
    app = make_app(f"mainclass sample.Main\njvmdll bin\\jvm.dll\njre_order c\n"
                   f"forcecwd {win(tmp_path / 'cwd')}\n")
    assert_loaded(app.run("/test"), places[winner])


def test_jvmdll_absolute_and_missing(tmp_path, make_app):
    lib = place_double(tmp_path / "elsewhere" / "jvm.dll")
    beside = place_double(tmp_path / "app" / "jre" / "bin" / "client" / "jvm.dll")
    app = make_app(f"mainclass sample.Main\njvmdll {win(lib)}\n", name="absolute")
    assert_loaded(app.run("/test"), lib)
    # A configured file that is not there does not end the search.
    app = make_app("mainclass sample.Main\njvmdll nothing\\jvm.dll\n", name="missing")
    assert_loaded(app.run("/test"), beside)


def test_jre_key_relative_to_home_and_start_directory(tmp_path, make_app):
    in_home = place_double(tmp_path / "app" / "myrt" / "bin" / "client" / "jvm.dll")
    app = make_app("mainclass sample.Main\njre myrt\njre_order b\n", name="home")
    assert_loaded(app.run("/test"), in_home)
    in_cwd = place_double(tmp_path / "cwd" / "cwdrt" / "bin" / "client" / "jvm.dll")
    app = make_app(f"mainclass sample.Main\njre cwdrt\\\njre_order b\n"
                   f"forcecwd {win(tmp_path / 'cwd')}\n", name="cwd")
    assert_loaded(app.run("/test"), in_cwd)


# ---------------------------------------------------------------------------
# How a Java home is searched (through JAVA_HOME).

@pytest.mark.parametrize("layout, vm, winner", [
    # the home itself comes before its subdirectories
    (["jvm.dll", "bin/client/jvm.dll"], None, "jvm.dll"),
    # a subdirectory of the home before bin\
    (["hotspot/jvm.dll", "bin/client/jvm.dll"], None, "hotspot/jvm.dll"),
    # bin\ before jre\bin\ (a JDK whose bin holds a runtime)
    (["bin/client/jvm.dll", "jre/bin/client/jvm.dll"], None, "bin/client/jvm.dll"),
    # a home beside the runtime: ..\jre\bin\
    (["../jre/bin/client/jvm.dll"], None, "../jre/bin/client/jvm.dll"),
    # the preferred type is tried before the listing
    (["bin/client/jvm.dll", "bin/server/jvm.dll"], "server", "bin/server/jvm.dll"),
    (["bin/client/jvm.dll", "bin/server/jvm.dll"], "client", "bin/client/jvm.dll"),
    # the preferred type is looked for in the first candidate that has one
    (["bin/server/jvm.dll", "jre/bin/client/jvm.dll"], "client", "bin/server/jvm.dll"),
])
def test_search_home(tmp_path, make_app, layout, vm, winner):
    home = tmp_path / "x" / "home"
    home.mkdir(parents=True)
    libs = {rel: place_double(home / rel) for rel in layout}
    config = "mainclass sample.Main\njre_order e\n" + (f"vm {vm}\n" if vm else "")
    r = make_app(config).run("/test", env={"JAVA_HOME": win(home)})
    assert_loaded(r, (home / winner).resolve())
    assert libs


def test_home_with_trailing_separator(tmp_path, make_app):
    lib = place_double(tmp_path / "rt" / "bin" / "jvm.dll")
    app = make_app("mainclass sample.Main\njre_order e\n")
    assert_loaded(app.run("/test", env={"JAVA_HOME": win(tmp_path / "rt") + "\\"}), lib)


def test_mixed_separators_reach_the_loader_as_built(tmp_path, make_app):
    # JAVA_HOME without a trailing separator and a listed VM directory give
    # <home>/bin\client/jvm.dll; its runtime directory <home>/bin becomes the
    # DLL directory with the slash it was built with.
    home = tmp_path / "rt"
    lib = place_double(home / "bin" / "client" / "jvm.dll")
    app = make_app("mainclass sample.Main\njre_order e\n")
    r = app.run("/test", env={"JAVA_HOME": win(home), "QLX_JVM_LOG_DLLDIR": "1"})
    assert_loaded(r, lib)
    assert r.lines("dlldir ") == [win(home) + "/bin"], r.explain()
