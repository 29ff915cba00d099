#!/usr/bin/env bash
# Fills dist/release/ with one release of qlx:
#   bin/      qlx.exe and qlx (the launcher stubs), qlxwrap and qlxwrap.exe
#   lib/      qlx-wrap.jar (the generator in Java) and qlx-support.jar
#   maven/    a Maven repository: qlx-wrap, qlx-maven-plugin, qlx-gradle-plugin
#             and the Gradle plugin marker, each with its POM and checksums
#   docs/     README.md and docs/
#   SHA256SUMS  every file above
# Every tool shows the one version of VERSION, and the plugins' coordinates
# carry it; the script checks both before it ends.
#   tools/release.sh [--no-build]     (QLX_RELEASE_DIR overrides dist/release)
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${1:-}" = "--no-build" ] || tools/build-all.sh
version=$(head -n1 VERSION)
out=${QLX_RELEASE_DIR:-dist/release}
rm -rf "$out"
mkdir -p "$out/bin" "$out/lib" "$out/docs"
cp dist/qlx.exe dist/qlx dist/qlxwrap "$out/bin/"
[ -f dist/qlxwrap.exe ] && cp dist/qlxwrap.exe "$out/bin/"
cp dist/qlx-wrap.jar dist/qlx-support.jar "$out/lib/"
cp README.md "$out/docs/"
cp -r docs/. "$out/docs/"
QLX_WRAP_JAR=$PWD/dist/qlx-wrap.jar QLX_PLUGIN_WORK=${QLX_PLUGIN_WORK:-$PWD/build/plugins} \
  tools/build-plugins.sh "$out/maven" maven gradle

fail() { echo "release: $*" >&2; exit 1; }
[ "$("$out/bin/qlxwrap" --version)" = "qlxwrap $version" ] || fail "qlxwrap --version is not $version"
[ "$(java -jar "$out/lib/qlx-wrap.jar" --version)" = "qlx-wrap $version" ] ||
  fail "qlx-wrap.jar --version is not $version"
for artifact in qlx-wrap qlx-maven-plugin qlx-gradle-plugin; do
  [ -f "$out/maven/com/tarnwick/qlx/$artifact/$version/$artifact-$version.jar" ] || fail "$artifact $version is missing"
done

(cd "$out" && find . -type f ! -name SHA256SUMS -printf '%P\n' | LC_ALL=C sort | xargs sha256sum > SHA256SUMS)
echo "release $version in $out: $(wc -l < "$out/SHA256SUMS") files"
