"""tools/release.sh: the release folder holds every part, its checksum list
verifies, every tool shows the one version, and its Maven repository works
as a plain file repository: Maven resolves the plugin from it with checksum
checking on, Gradle resolves the plugin by id through its marker."""
import subprocess
from pathlib import Path

import pytest

import buildtool_projects as bp
import qlxtest

DIST = qlxtest.ROOT / "dist"


@pytest.fixture(scope="module")
def release(tmp_path_factory):
    qlxtest.require_maven()
    qlxtest.require_gradle()
    if not (DIST / "qlx-wrap.jar").exists():
        pytest.fail("dist/ is not filled (tools/build-all.sh)")
    folder = tmp_path_factory.mktemp("release")
    env = dict(qlxtest.os.environ, QLX_RELEASE_DIR=str(folder / "release"), QLX_PLUGIN_WORK=str(folder / "work"))
    result = subprocess.run([str(qlxtest.ROOT / "tools" / "release.sh"), "--no-build"], capture_output=True,
                            text=True, timeout=900, env=env)
    assert result.returncode == 0, result.stdout[-3000:] + result.stderr[-3000:]
    assert f"release {bp.VERSION} in" in result.stdout
    return folder / "release"


def test_release_holds_every_part_with_checksums(release):
    files = {str(p.relative_to(release)) for p in release.rglob("*") if p.is_file()}
    v = bp.VERSION
    for name in ("bin/qlx.exe", "bin/qlx", "bin/qlxwrap", "lib/qlx-wrap.jar", "lib/qlx-support.jar",
                 "docs/README.md", "docs/build-tools.md", "docs/configuration.md", "SHA256SUMS",
                 *(f"maven/com/tarnwick/qlx/{a}/{v}/{a}-{v}.{ext}" for a in ("qlx-wrap", "qlx-maven-plugin",
                                                                            "qlx-gradle-plugin") for ext in ("jar", "pom")),
                 f"maven/com/tarnwick/qlx/com.tarnwick.qlx.gradle.plugin/{v}/com.tarnwick.qlx.gradle.plugin-{v}.pom"):
        assert name in files, name
    check = subprocess.run(["sha256sum", "-c", "--strict", "SHA256SUMS"], cwd=release, capture_output=True, text=True)
    assert check.returncode == 0, check.stdout + check.stderr
    listed = {line.split(None, 1)[1] for line in (release / "SHA256SUMS").read_text().splitlines()}
    assert listed == files - {"SHA256SUMS"}
    assert (release / "lib" / "qlx-wrap.jar").read_bytes() == (DIST / "qlx-wrap.jar").read_bytes()
    pom = (release / f"maven/com/tarnwick/qlx/qlx-maven-plugin/{v}/qlx-maven-plugin-{v}.pom").read_text()
    assert f"<version>{v}</version>" in pom and "@VERSION@" not in pom


def test_release_repository_serves_both_plugins(release, tmp_path):
    repo = (release / "maven").as_uri()
    # Maven: the plugin and qlx-wrap come from the release as a remote file repository, checksums checked.
    project = tmp_path / "mvn"
    project.mkdir()
    (project / "settings.xml").write_text(
        f"<settings><localRepository>{tmp_path / 'm2'}</localRepository><mirrors><mirror><id>debian</id>"
        f"<mirrorOf>*,!qlx</mirrorOf><url>{bp.DEBIAN_REPO}</url></mirror></mirrors></settings>\n")
    (project / "pom.xml").write_text(f"""<project xmlns="http://maven.apache.org/POM/4.0.0">
  <modelVersion>4.0.0</modelVersion>
  <groupId>com.example</groupId><artifactId>resolve</artifactId><version>1</version>
  <pluginRepositories><pluginRepository><id>qlx</id><url>{repo}</url>
    <releases><checksumPolicy>fail</checksumPolicy></releases></pluginRepository></pluginRepositories>
  <build><plugins><plugin><groupId>com.tarnwick.qlx</groupId><artifactId>qlx-maven-plugin</artifactId>
    <version>{bp.VERSION}</version><executions><execution><goals><goal>wrap</goal></goals></execution></executions>
  </plugin></plugins></build>
</project>
""")
    mvn = subprocess.run(["mvn", "-B", "-s", "settings.xml", "validate", "package", "-Dqlx.skip"], cwd=project,
                         capture_output=True, text=True, timeout=600, env=dict(qlxtest.os.environ, JAVA_HOME=str(qlxtest.JDK)))
    assert mvn.returncode == 0 and "qlx: skipped" in mvn.stdout, mvn.stdout[-4000:]
    # Gradle: plugins { id ... version ... } finds the plugin through its marker.
    gradle = tmp_path / "gradle"
    gradle.mkdir()
    (gradle / "settings.gradle").write_text(
        f"pluginManagement {{ repositories {{ maven {{ url '{repo}' }}; maven {{ url '{bp.DEBIAN_REPO}' }} }} }}\n"
        "rootProject.name = 'resolve'\n")
    (gradle / "build.gradle").write_text(
        f"plugins {{ id 'java'; id 'com.tarnwick.qlx' version '{bp.VERSION}' }}\n"
        "task show { doLast { println 'qlxWrap task: ' + tasks.qlxWrap.class.name } }\n")
    run = subprocess.run(["gradle", "--offline", "--no-daemon", "--console=plain", "-q", "show"], cwd=gradle,
                         capture_output=True, text=True, timeout=900,
                         env=dict(qlxtest.os.environ, JAVA_HOME=str(qlxtest.JDK), GRADLE_USER_HOME=str(tmp_path / "gh")))
    assert run.returncode == 0, run.stdout[-3000:] + run.stderr[-3000:]
    assert "qlxWrap task: com.tarnwick.qlx.gradle.QlxWrap" in run.stdout
