#!/usr/bin/env bash
# Builds the Java VM the Windows tests run real Java on: Avian (ISC licence,
# tools/avian/LICENSE.txt) for Windows x86-64, from the upstream source at a
# pinned commit with tools/avian/avian.patch (bulk array and long string
# serialisation, JDK field order, a compressed class library, archives with
# data in front of them, Java's bytes unchanged on the standard handles,
# options in the ANSI code page). Writes build/avian/jvm.dll and
# build/avian/classpath.jar, where the tests look for them.
#
# The source archive is taken from $QLX_AVIAN_SOURCE, from ../shared/avian/
# beside the checkout, or fetched from GitHub by its commit. Beside the VM
# goes patch.sha256, the digest of the patch it was built from: the tests
# prefer a VM of the current patch, and tests of what the patch fixes skip
# on any other.
#
# --if-missing: do nothing when the tests already find a test VM built from
# the current patch ($QLX_AVIAN, ../shared/avian, build/avian; the rule is
# tests/qlxtest.py's), as CI does before running the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
if [ "${1:-}" = "--if-missing" ]; then
  if found=$(python3 "$root/tests/qlxtest.py" test-vm --current 2>/dev/null); then
    echo "build-avian: the test VM of the current patch is in $found"
    exit 0
  fi
fi
commit=0871979b298add320ca63f65060acb7532c8a0dd
short=${commit:0:8}
out=${QLX_AVIAN_OUT:-$root/build/avian}
work=$root/build/avian-src
jdk=${QLX_JDK_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}

fail() { echo "build-avian: $*" >&2; exit 1; }

"$root/tools/install-deps.sh" g++-mingw-w64-x86-64-posix libz-mingw-w64-dev make patch curl \
  ca-certificates
[ -x "$jdk/bin/javac" ] || fail "no JDK at $jdk (set QLX_JDK_HOME)"

archive=${QLX_AVIAN_SOURCE:-}
if [ -z "$archive" ] && [ -f "$root/../shared/avian/avian-$short-src.tar.gz" ]; then
  archive=$root/../shared/avian/avian-$short-src.tar.gz
fi
mkdir -p "$work"
if [ -z "$archive" ]; then
  archive=$work/avian-$short.tar.gz
  if [ ! -f "$archive" ]; then
    echo "build-avian: fetching Avian $commit"
    curl -fsSL -o "$archive.part" "https://github.com/ReadyTalk/avian/archive/$commit.tar.gz" ||
      fail "cannot fetch the Avian source (set QLX_AVIAN_SOURCE to a source archive)"
    mv "$archive.part" "$archive"
  fi
fi

patch_digest=$(sha256sum "$root/tools/avian/avian.patch" | cut -d' ' -f1)
rm -rf "$work/src"
mkdir -p "$work/src"
tar xzf "$archive" -C "$work/src" --strip-components=1 || fail "cannot unpack $archive"
(cd "$work/src" && patch -p1 -s < "$root/tools/avian/avian.patch") || fail "the patch does not apply"

# Avian's Windows build takes its headers and static zlib from one folder.
win64=$work/win64
rm -rf "$win64"
mkdir -p "$win64/include" "$win64/lib"
cp "$work/src/src/openjdk/jni_md.h" "$win64/include/"
mingw=/usr/x86_64-w64-mingw32
[ -f "$mingw/include/zlib.h" ] && [ -f "$mingw/lib/libz.a" ] ||
  fail "MinGW zlib for x86-64 not found in $mingw (libz-mingw-w64-dev)"
cp "$mingw/include/zlib.h" "$mingw/include/zconf.h" "$win64/include/"
cp "$mingw/lib/libz.a" "$win64/lib/"

echo "build-avian: building (about a minute on two cores)"
(cd "$work/src" && PATH="$jdk/bin:$PATH" JAVA_HOME="$jdk" \
   make -j "$(nproc)" platform=windows arch=x86_64 java-version=8 win64="$win64" \
   build/windows-x86_64/jvm.dll build/windows-x86_64/classpath.jar) || fail "make failed"

mkdir -p "$out"
# The digest goes last, so a VM that is only half copied is never taken
# for one of the current patch.
rm -f "$out/patch.sha256"
cp "$work/src/build/windows-x86_64/jvm.dll" "$work/src/build/windows-x86_64/classpath.jar" "$out/"
cp "$root/tools/avian/LICENSE.txt" "$out/"
chmod u+w "$out/LICENSE.txt"
echo "$patch_digest  avian.patch" > "$out/patch.sha256"
echo "build-avian: $out/jvm.dll and $out/classpath.jar (patch $patch_digest)"
