#!/usr/bin/env bash
# Fills a Maven repository (layout com/tarnwick/qlx/<artifact>/<version>/)
# with qlx-wrap.jar, the Maven plugin and the Gradle plugin, each with its
# POM and .sha1/.md5 files, so a file repository or deploy:deploy-file
# takes them as they are.
#   tools/build-plugins.sh REPOSITORY [maven|gradle]...   (default: both)
# Needs qlx-wrap.jar (tools/build-all.sh), Debian's maven with
# libmaven-plugin-tools-java for the Maven plugin, and Debian's gradle for
# the Gradle API the Gradle plugin compiles against. Offline: the only
# Maven repository used is /usr/share/maven-repo.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
repo=$(realpath -m "${1:?usage: tools/build-plugins.sh REPOSITORY [maven|gradle]...}")
shift
parts=("${@:-maven gradle}")
parts=(${parts[*]})
version=$(head -n1 "$root/VERSION")
wrapjar=${QLX_WRAP_JAR:-$root/build/host/tools/qlx-wrap.jar}
work=${QLX_PLUGIN_WORK:-$root/build/plugins}
jdk=${QLX_JDK_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
group=com/tarnwick/qlx
[ -f "$wrapjar" ] || { echo "build-plugins: $wrapjar is missing (run tools/build-all.sh)" >&2; exit 1; }
mkdir -p "$repo" "$work"

filled() { sed "s/@VERSION@/$version/g" "$1"; }

# put ARTIFACT FILE EXTENSION: one file of an artifact, with its checksums.
put() {
  local dir=$repo/$group/$1/$version
  mkdir -p "$dir"
  cp "$2" "$dir/$1-$version.$3"
  (cd "$dir" && sha1sum "$1-$version.$3" | cut -d' ' -f1 > "$1-$version.$3.sha1" &&
     md5sum "$1-$version.$3" | cut -d' ' -f1 > "$1-$version.$3.md5")
}

filled "$root/tools/qlx-wrap-java/pom.xml.in" > "$work/qlx-wrap.pom"
put qlx-wrap "$wrapjar" jar
put qlx-wrap "$work/qlx-wrap.pom" pom

for part in "${parts[@]}"; do
  case "$part" in
  maven)
    # The plugin's own build: offline, Debian's repository as the only
    # mirror, qlx-wrap taken from the repository filled above.
    src=$work/maven-plugin
    rm -rf "$src" && mkdir -p "$src"
    cp -r "$root/tools/maven-plugin/src" "$src/"
    filled "$root/tools/maven-plugin/pom.xml.in" > "$src/pom.xml"
    mkdir -p "$work/m2/$group"
    cp -r "$repo/$group/qlx-wrap" "$work/m2/$group/"
    cat > "$work/settings.xml" <<XML
<settings>
  <localRepository>$work/m2</localRepository>
  <mirrors><mirror><id>debian</id><mirrorOf>*</mirrorOf><url>file:///usr/share/maven-repo</url></mirror></mirrors>
</settings>
XML
    JAVA_HOME=$jdk mvn -q -B -s "$work/settings.xml" -f "$src/pom.xml" package
    put qlx-maven-plugin "$src/target/qlx-maven-plugin-$version.jar" jar
    put qlx-maven-plugin "$src/pom.xml" pom
    ;;
  gradle)
    # Compiled against Debian's Gradle API; the plugin uses only plain task
    # properties, which current Gradle keeps.
    gradle_lib=${QLX_GRADLE_LIB:-/usr/share/gradle/lib}
    [ -d "$gradle_lib" ] || { echo "build-plugins: no Gradle API in $gradle_lib (install gradle)" >&2; exit 1; }
    out=$work/gradle-plugin
    rm -rf "$out" && mkdir -p "$out/classes"
    # Gradle's own jars, and the libraries its API signatures name.
    cp=$(find -L "$gradle_lib" -name '*.jar' | tr '\n' ':')
    for extra in /usr/share/java/groovy-all.jar /usr/share/java/atinject-jsr330-api.jar /usr/share/java/slf4j-api.jar; do
      [ -f "$extra" ] && cp=$cp$extra:
    done
    "$jdk/bin/javac" --release 8 -nowarn -encoding UTF-8 -d "$out/classes" -cp "$cp$wrapjar" \
      $(find "$root/tools/gradle-plugin/src" -name '*.java')
    cp -r "$root/tools/gradle-plugin/resources/." "$out/classes/"
    "$jdk/bin/jar" --create --file "$out/qlx-gradle-plugin.jar" -C "$out/classes" .
    filled "$root/tools/gradle-plugin/pom.xml.in" > "$out/qlx-gradle-plugin.pom"
    filled "$root/tools/gradle-plugin/marker.pom.in" > "$out/marker.pom"
    put qlx-gradle-plugin "$out/qlx-gradle-plugin.jar" jar
    put qlx-gradle-plugin "$out/qlx-gradle-plugin.pom" pom
    put com.tarnwick.qlx.gradle.plugin "$out/marker.pom" pom
    ;;
  *) echo "build-plugins: unknown part '$part' (maven or gradle)" >&2; exit 1 ;;
  esac
done
echo "build-plugins: $(find "$repo/$group" -name '*.jar' -o -name '*.pom' | wc -l) files in $repo"
