#!/usr/bin/env bash
# Wraps the sample application (tests/apps/hello) for Linux and Windows with
# the generator in dist/ and runs both: the Linux program on the machine's
# OpenJDK, the Windows one under Wine on the Windows test VM (Avian, a real
# JVM: QLX_AVIAN, ../shared/avian or build/avian from tools/build-avian.sh)
# when one is found, else on the stand-in jvm.dll of the Windows tree, which
# only reports what the launcher asked of it. Every line says which VM ran.
# The sample's files go to build/sample/; dist/ keeps only the product.
# Expects tools/build-all.sh to have filled dist/ (QLX_DIST names another
# directory laid out the same way).
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jdk=${QLX_JDK_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
dist=${QLX_DIST:-dist}
work=$root/build/sample
rm -rf "$work"
mkdir -p "$work/classes"

step() { printf '\n== %s\n' "$*"; }
fail() { echo "wrap-sample: $*" >&2; exit 1; }

for f in "$dist/qlxwrap" "$dist/qlx" "$dist/qlx.exe"; do
  [ -f "$f" ] || fail "$f is missing: run tools/build-all.sh first"
done

step "compiling tests/apps/hello"
"$jdk/bin/javac" --release 8 -d "$work/classes" tests/apps/hello/sample/Hello.java || fail "javac failed"
(cd "$work/classes" && "$jdk/bin/jar" cf "$work/hello.jar" sample) || fail "jar failed"

support=()
[ -f "$dist/qlx-support.jar" ] && support=(--merge "$dist/qlx-support.jar")

step "wrapping build/sample/hello (Linux) and build/sample/hello.exe (Windows)"
"$dist/qlxwrap" --stub "$dist/qlx" --jar "$work/hello.jar" --config tests/apps/hello/hello.cfg \
    "${support[@]}" -o "$work/hello" || fail "qlxwrap failed for hello"
"$dist/qlxwrap" --stub "$dist/qlx.exe" --jar "$work/hello.jar" --config tests/apps/hello/hello.cfg \
    "${support[@]}" --service-name QlxHello --display-name "qlx Hello sample" \
    --description "The qlx sample application." -o "$work/hello.exe" || fail "qlxwrap failed for hello.exe"
ls -l "$work/hello" "$work/hello.exe"

status=0
step "hello /test a b   (Linux launcher; VM: OpenJDK HotSpot at $jdk)"
JAVA_HOME="$jdk" "$work/hello" /test a b
rc=$?
echo "exit code: $rc"
[ "$rc" -eq 0 ] || status=1

export WINEPREFIX=${QLX_WINEPREFIX:-$root/build/wineprefix} WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
wine() { env LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8 wine "$@"; }
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
step "wine hello.exe /help   (prefix $WINEPREFIX; no VM is started)"
wine "$work/hello.exe" /help
rc=$?
echo "exit code: $rc"
[ "$rc" -eq 0 ] || status=1
# One server for the runs below (the test VM's README asks for it).
wineserver -p 2>/dev/null || true

# The Windows test VM, chosen by the tests' own rule (tests/qlxtest.py).
avian=$(python3 "$root/tests/qlxtest.py" test-vm 2>/dev/null) || avian=
[ -n "$avian" ] && avian=$(cd "$avian" && pwd)
double=${QLX_BUILD_WIN:-$root/build/win}/tests/jvmdouble/jvm.dll
mkdir -p "$work/win"
cp "$work/hello.exe" "$work/win/hello.exe"
if [ -n "$avian" ]; then
  # A configuration file beside the copy names the VM, so the wrapped file
  # stays as the generator wrote it.
  dll=$(winpath "$avian/jvm.dll")
  # Avian leaves java.version and java.vm.name unset; the sample prints both.
  printf 'jvmdll %s\r\njre_order c\r\noption -Davian.bootstrap=%s\r\noption -Djava.version=1.8.0_avian\r\noption -Djava.vm.name=Avian\r\n' \
      "$dll" "$dll" > "$work/win/hello.exe.cfg"
  step "wine hello.exe /test a b   (VM: Avian, a real JVM for Windows: $avian/jvm.dll)"
  wine "$work/win/hello.exe" /test a b
  rc=$?
  echo "exit code: $rc"
  [ "$rc" -eq 0 ] || status=1
elif [ -f "$double" ]; then
  printf 'jvmdll %s\r\n' "$(winpath "$double")" > "$work/win/hello.exe.cfg"
  step "wine hello.exe /test a b   (no Windows test VM found: the stand-in jvm.dll $double runs no Java, it records what the launcher asked of it)"
  QLX_JVM_LOG="$(winpath "$work/win/jvm.log")" wine "$work/win/hello.exe" /test a b
  rc=$?
  echo "exit code: $rc"
  if [ -f "$work/win/jvm.log" ]; then
    echo "what the stand-in runtime saw:"
    sed 's/^/  /' "$work/win/jvm.log"
  fi
  [ "$rc" -eq 0 ] || status=1
  echo "(run tools/build-avian.sh, or set QLX_AVIAN, to run real Java under Wine)"
else
  step "no Windows test VM and no stand-in jvm.dll: the Windows /test run is skipped"
fi
wineserver -k 2>/dev/null || true

step "done"
[ "$status" -eq 0 ] && echo "the sample ran" || echo "some runs failed (see above)"
exit "$status"
