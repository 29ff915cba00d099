"""The search order of runtime discovery (jre_order and its default) under
Wine: one layout holds a runtime in every source (configured library,
runtime beside the program, JavaSoft and IBM registry keys, JRE_HOME), and
each order must pick the runtime of its first source that has one."""
import pytest

from wine_vm_support import place_double, same_path, win

NOT_FOUND = "Java Runtime Environment not found."


def assert_loaded(run, path):
    assert run.returncode == 0, run.explain()
    assert run.library is not None and same_path(run.library, path), run.explain()


# ---------------------------------------------------------------------------
# One layout with a runtime in every source; jre_order picks among them.

@pytest.fixture(scope="module")
def every_source(tmp_path_factory, module_registry):
    root = tmp_path_factory.mktemp("sources")
    app = root / "app"
    found = {
        "c": place_double(app / "cfg" / "jvm.dll"),
        "b": place_double(app / "jre" / "bin" / "client" / "jvm.dll"),
        "s": place_double(root / "javasoft" / "bin" / "client" / "jvm.dll"),
        "i": place_double(root / "ibm" / "bin" / "classic" / "jvm.dll"),
        "e": place_double(root / "envjre" / "bin" / "server" / "jvm.dll"),
    }
    ibm = "SOFTWARE\\IBM\\Java2 Runtime Environment"
    module_registry.write({
        "SOFTWARE\\JavaSoft\\JRE": {"CurrentVersion": "1.8"},
        "SOFTWARE\\JavaSoft\\JRE\\1.8": {"RuntimeLib": win(found["s"])},
        ibm: {"CurrentVersion": "1.4"},
        ibm + "\\1.4": {"RuntimeLib": win(found["i"])},
    })
    return root, found


@pytest.mark.parametrize("order, winner", [
    (None, "c"),      # no key: "cbsie"
    ("c", "c"), ("b", "b"), ("s", "s"), ("i", "i"), ("e", "e"),
    ("SE", "s"),      # upper case counts
    ("xyz", "c"),     # no known letter: the default order
    ("x e", "e"),     # unknown characters are skipped
    ("ie", "i"), ("bc", "b"),
])
def test_search_order(every_source, make_app, order, winner):
    root, found = every_source
    config = "mainclass sample.Main\njvmdll cfg\\jvm.dll\n"
    if order is not None:
        config += f"jre_order {order}\n"
    name = "app_" + "".join(ch if ch.isalnum() else "_" for ch in (order or "default"))
    app = make_app(config, directory=root / "app", name=name)
    r = app.run("/test", env={"JRE_HOME": win(root / "envjre")})
    assert_loaded(r, found[winner])


def test_the_runtime_beside_the_program_wins_over_registry_and_environment(every_source,
                                                                             make_app):
    root, found = every_source
    app = make_app("mainclass sample.Main\n", directory=root / "app", name="beside")
    r = app.run("/test", env={"JRE_HOME": win(root / "envjre"), "JAVA_HOME": win(root / "envjre")})
    assert_loaded(r, found["b"])


def test_order_of_only_empty_sources_finds_nothing(every_source, make_app):
    root, _ = every_source
    app = make_app("mainclass sample.Main\njre_order ce\n", directory=root / "app", name="none")
    r = app.run("/test")
    assert r.returncode == 1, r.explain()
    assert r.stdout == NOT_FOUND + "\n"
    assert r.log == []
