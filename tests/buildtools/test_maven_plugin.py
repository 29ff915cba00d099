"""The Maven plugin end to end, offline: a fresh consumer project with a
runtime dependency from the Debian repository and a service configuration
runs `mvn package`; the programs it makes run under Wine on the test VM and
on HotSpot, with the dependency merged and copied into lib/; a wrong minJre
fails the build with the generator's message and the POM line, and so does
a warning with strict."""
import re
import shutil
import subprocess
from pathlib import Path

import pytest

import buildtool_projects as bp
import qlxtest

POM = """<?xml version="1.0" encoding="UTF-8"?>
<project xmlns="http://maven.apache.org/POM/4.0.0">
  <modelVersion>4.0.0</modelVersion>
  <groupId>com.example</groupId>
  <artifactId>demo</artifactId>
  <version>2.5.1-SNAPSHOT</version>
  <name>Demo Service</name>
  <description>Demo service, wrapped by Maven</description>
  <organization><name>Example Ltd</name></organization>
  <properties>
    <maven.compiler.source>8</maven.compiler.source>
    <maven.compiler.target>8</maven.compiler.target>
    <project.build.sourceEncoding>UTF-8</project.build.sourceEncoding>
    <qlxDependencies>merge</qlxDependencies>
    <qlxMinJre>1.8</qlxMinJre>
  </properties>
  <dependencies>
    <dependency>
      <groupId>org.apache.commons</groupId>
      <artifactId>commons-lang3</artifactId>
      <version>debian</version>
    </dependency>
  </dependencies>
  <build>
    <plugins>
      <plugin>
        <artifactId>maven-jar-plugin</artifactId>
        <configuration>
          <archive><manifest><mainClass>demo.App</mainClass></manifest></archive>
        </configuration>
      </plugin>
      <plugin>
        <groupId>com.tarnwick.qlx</groupId>
        <artifactId>qlx-maven-plugin</artifactId>
        <version>{version}</version>
        <configuration>
          <dependencies>${{qlxDependencies}}</dependencies>
          <minJre>${{qlxMinJre}}</minJre>
          <options>
            <option>-Xmx64m</option>
          </options>
        </configuration>
        <executions>
          <execution>
            <id>windows</id>
            <goals><goal>wrap</goal></goals>
            <configuration>
              <serviceName>DemoSvc</serviceName>
              <displayName>Demo Service</displayName>
              <serviceDescription>Runs the demo</serviceDescription>
              <startType>auto</startType>
              <recovery>60/3/86400</recovery>
              <support>true</support>
              <config>
                <line>mainclas typo.Kept</line>{avian}
              </config>
            </configuration>
          </execution>
          <execution>
            <id>linux</id>
            <goals><goal>wrap</goal></goals>
            <configuration>
              <platform>linux</platform>
              <output>${{project.build.directory}}/demo</output>
              <attach>false</attach>
            </configuration>
          </execution>
        </executions>
      </plugin>
    </plugins>
  </build>
</project>
"""


@pytest.fixture(scope="module")
def repository(tmp_path_factory):
    qlxtest.require_maven()
    if not qlxtest.QLX_WRAP_JAR.exists():
        pytest.fail(f"{qlxtest.QLX_WRAP_JAR} was not built (run tools/build-all.sh)")
    yield bp.build_repository(tmp_path_factory.mktemp("maven"), "maven")
    qlxtest.stop_wineserver()


def consumer(folder, repository):
    """A fresh project folder, and a local repository holding the plugin as the test put it there."""
    folder.mkdir()
    local = folder / "m2"
    shutil.copytree(repository, local)
    (folder / "settings.xml").write_text(
        f"<settings><localRepository>{local}</localRepository><mirrors><mirror><id>debian</id>"
        f"<mirrorOf>*</mirrorOf><url>{bp.DEBIAN_REPO}</url></mirror></mirrors></settings>\n")
    project = folder / "demo"
    project.mkdir()
    bp.copy_sources(project)
    avian = "".join(f"\n                <line>{line}</line>" for line in bp.avian_lines())
    (project / "pom.xml").write_text(POM.format(version=bp.VERSION, avian=avian))
    return project


def mvn(project, *args):
    return subprocess.run(["mvn", "-B", "-s", str(project.parent / "settings.xml"), *args], cwd=project,
                          capture_output=True, text=True, timeout=600,
                          env=dict(qlxtest.os.environ, JAVA_HOME=str(qlxtest.JDK)))


def test_maven_package_wraps_a_service_with_its_dependency(tmp_path, repository):
    project = consumer(tmp_path / "p", repository)
    target = project / "target"
    for mode in ("merge", "lib"):
        shutil.rmtree(target, ignore_errors=True)
        build = mvn(project, "package", f"-DqlxDependencies={mode}")
        assert build.returncode == 0, build.stdout[-6000:]
        log = build.stdout
        exe, linux = target / "demo-2.5.1-SNAPSHOT.exe", target / "demo"
        assert "qlx: attached demo-2.5.1-SNAPSHOT.exe to the project as type exe" in log
        # The configuration mistake is a Maven warning naming the POM line it came from.
        line = next(n for n, text in enumerate((project / "pom.xml").read_text().splitlines(), 1) if "<config>" in text)
        assert re.search(r"\[WARNING\] qlx: warning: configuration line \d+: unknown key 'mainclas' is ignored "
                         rf"\(nearest known key: 'mainclass'\) \[pom.xml line {line}, <config>\]", log), log[-4000:]
        names = bp.archive_names(exe)
        assert "demo/App.class" in names and "com/tarnwick/qlx/ServiceStatusManager.class" in names
        merged = "org/apache/commons/lang3/ArrayUtils.class" in names
        assert merged == (mode == "merge")
        assert ((target / "lib" / "commons-lang3-debian.jar").is_file()) == (mode == "lib")
        report = bp.inspect(exe)
        for expected in ("service name:       DemoSvc", "display name:       Demo Service",
                         "description:        Runs the demo", "service settings:   start=auto recovery=60/3/86400",
                         "(fixed) FileVersion: 2.5.1.0", "CompanyName:      Example Ltd",
                         "ProductName:      Demo Service", "FileDescription:  Demo service, wrapped by Maven",
                         "| mainclass demo.App", "| option -Xmx64m", "| minjre 1.8"):
            assert expected in report, (expected, report)
        assert ("| java_classpath lib/commons-lang3-debian.jar" in report) == (mode == "lib")
        assert "| mainclass demo.App" in bp.inspect(linux)
        bp.check_programs(exe, linux, args=(mode, "x"))


def test_maven_configuration_error_fails_the_build_and_skip_skips(tmp_path, repository):
    project = consumer(tmp_path / "p", repository)
    build = mvn(project, "package", "-DqlxMinJre=1.x")
    assert build.returncode != 0
    line = next(n for n, text in enumerate((project / "pom.xml").read_text().splitlines(), 1) if "<minJre>" in text)
    assert ("qlxwrap: configuration line 3: minjre '1.x' cannot be read: expected a Java version: 1 to 4 numbers "
            f"joined by '.' or '_' (17, 1.8.0_392) [pom.xml line {line}, <minJre>]") in build.stdout, build.stdout[-4000:]
    assert not list((project / "target").glob("demo*.exe"))
    # Strict, the warning about the typed key fails the build, naming its POM line; nothing is written.
    strict = mvn(project, "package", "-Dqlx.strict")
    assert strict.returncode != 0
    config = next(n for n, text in enumerate((project / "pom.xml").read_text().splitlines(), 1) if "<config>" in text)
    assert "qlxwrap: strict: warnings count as errors, nothing was written" in strict.stdout, strict.stdout[-4000:]
    assert re.search(r"warning: configuration line \d+: unknown key 'mainclas' is ignored \(nearest known key: "
                     rf"'mainclass'\) \[pom.xml line {config}, <config>\]", strict.stdout), strict.stdout[-4000:]
    assert not list((project / "target").glob("demo*.exe"))
    skipped = mvn(project, "package", "-DqlxMinJre=1.x", "-Dqlx.skip")
    assert skipped.returncode == 0, skipped.stdout[-4000:]
    assert skipped.stdout.count("qlx: skipped") == 2 and not list((project / "target").glob("demo*.exe"))
