"""The Gradle plugin end to end, offline, with Debian's Gradle: the same
consumer as the Maven test runs `gradle build`; the programs it makes run
under Wine on the test VM and on HotSpot, with the dependency merged and in
lib/; a second run is up to date, a changed setting runs the task again; a
wrong minJre fails the build with the generator's message, and so does a
warning with strict."""
import shutil
import subprocess

import pytest

import buildtool_projects as bp
import qlxtest

BUILD = """buildscript {{
    repositories {{
        maven {{ url '{repo}' }}
        maven {{ url '{debian}' }}
    }}
    dependencies {{ classpath 'com.tarnwick.qlx:qlx-gradle-plugin:{version}' }}
}}
apply plugin: 'java'
apply plugin: 'com.tarnwick.qlx'

version = '2.5.1'
description = 'Demo service, wrapped by Gradle'
sourceCompatibility = 1.8
targetCompatibility = 1.8

repositories {{ maven {{ url '{debian}' }} }}
dependencies {{ compile 'org.apache.commons:commons-lang3:debian' }}
jar {{ manifest {{ attributes 'Main-Class': 'demo.App' }} }}

qlx {{
    dependencies = project.findProperty('qlxDependencies') ?: 'merge'
    minJre = project.findProperty('qlxMinJre') ?: '1.8'
    options = [project.findProperty('qlxOption') ?: '-Xmx64m']
    strict = project.hasProperty('qlxStrict')
    serviceName = 'DemoSvc'
    displayName = 'Demo Service'
    serviceDescription = 'Runs the demo'
    startType = 'auto'
    recovery = '60/3/86400'
    support = true
    companyName = 'Example Ltd'
    config = [{avian}]
}}

// The Linux counterpart, from the same JAR and settings.
task qlxLinux(type: com.tarnwick.qlx.gradle.QlxWrap) {{
    platform = 'linux'
    config = []
    output = "$buildDir/qlx/demo"
}}
assemble.dependsOn qlxLinux
"""


@pytest.fixture(scope="module")
def repository(tmp_path_factory):
    qlxtest.require_gradle()
    if not qlxtest.QLX_WRAP_JAR.exists():
        pytest.fail(f"{qlxtest.QLX_WRAP_JAR} was not built (run tools/build-all.sh)")
    yield bp.build_repository(tmp_path_factory.mktemp("gradle"), "gradle")
    qlxtest.stop_wineserver()


def consumer(folder, repository):
    project = folder / "demo"
    project.mkdir(parents=True)
    bp.copy_sources(project)
    avian = ", ".join("'" + line.replace("\\", "\\\\") + "'" for line in bp.avian_lines())
    (project / "build.gradle").write_text(BUILD.format(repo=repository.as_uri(), debian=bp.DEBIAN_REPO,
                                                       version=bp.VERSION, avian=avian))
    (project / "settings.gradle").write_text("rootProject.name = 'demo'\n")
    return project


def gradle(project, *args):
    env = dict(qlxtest.os.environ, JAVA_HOME=str(qlxtest.JDK), GRADLE_USER_HOME=str(project.parent / "gradle-home"))
    return subprocess.run(["gradle", "--offline", "--no-daemon", "--console=plain", *args], cwd=project,
                          capture_output=True, text=True, timeout=900, env=env)


def test_gradle_build_wraps_a_service_with_its_dependency(tmp_path, repository):
    project = consumer(tmp_path, repository)
    exe, linux = project / "build" / "qlx" / "demo-2.5.1.exe", project / "build" / "qlx" / "demo"
    for mode in ("merge", "lib"):
        shutil.rmtree(project / "build", ignore_errors=True)
        build = gradle(project, "build", f"-PqlxDependencies={mode}")
        assert build.returncode == 0, build.stdout[-5000:] + build.stderr[-5000:]
        names = bp.archive_names(exe)
        assert "demo/App.class" in names and "com/tarnwick/qlx/ServiceStatusManager.class" in names
        assert ("org/apache/commons/lang3/ArrayUtils.class" in names) == (mode == "merge")
        assert (project / "build" / "qlx" / "lib" / "commons-lang3-debian.jar").is_file() == (mode == "lib")
        report = bp.inspect(exe)
        for expected in ("service name:       DemoSvc", "service settings:   start=auto recovery=60/3/86400",
                         "(fixed) FileVersion: 2.5.1.0", "CompanyName:      Example Ltd", "ProductName:      demo",
                         "FileDescription:  Demo service, wrapped by Gradle", "| mainclass demo.App",
                         "| option -Xmx64m", "| minjre 1.8"):
            assert expected in report, (expected, report)
        assert "| mainclass demo.App" in bp.inspect(linux)
        bp.check_programs(exe, linux, args=(mode, "y"))
    # Nothing changed: both tasks are up to date. A changed setting runs them again.
    again = gradle(project, "assemble", "-PqlxDependencies=lib")
    assert again.returncode == 0, again.stdout[-3000:]
    assert ":qlxWrap UP-TO-DATE" in again.stdout and ":qlxLinux UP-TO-DATE" in again.stdout, again.stdout
    changed = gradle(project, "assemble", "-PqlxDependencies=lib", "-PqlxMinJre=11")
    assert changed.returncode == 0, changed.stdout[-3000:]
    assert ":qlxWrap UP-TO-DATE" not in changed.stdout and "| minjre 11" in bp.inspect(exe)


def test_gradle_configuration_error_fails_the_build(tmp_path, repository):
    project = consumer(tmp_path, repository)
    build = gradle(project, "assemble", "-PqlxMinJre=1.x")
    assert build.returncode != 0
    assert ("qlxwrap: configuration line 3: minjre '1.x' cannot be read: expected a Java version: 1 to 4 numbers "
            "joined by '.' or '_' (17, 1.8.0_392) [qlx { minJre }]") in build.stdout + build.stderr
    assert not (project / "build" / "qlx" / "demo-2.5.1.exe").exists()
    # Strict, a warning (a quoted option line) fails the task too, naming the setting it came from.
    strict = gradle(project, "assemble", '-PqlxOption="-Xmx64m"', "-PqlxStrict")
    said = strict.stdout + strict.stderr
    assert strict.returncode != 0
    assert "qlxwrap: strict: warnings count as errors, nothing was written" in said, said[-3000:]
    assert "option '\"-Xmx64m\"' reaches the VM as written" in said and "[qlx { options }]" in said, said[-3000:]
    assert not (project / "build" / "qlx" / "demo-2.5.1.exe").exists()
