#!/usr/bin/env bash
# Wraps the sample application (tests/apps/hello) for Linux (dist/hello) and
# Windows (dist/hello.exe) with the generator in dist/, then runs both:
# the Linux program on the machine's OpenJDK, the Windows one under Wine
# (/help, and /test when the stand-in jvm.dll of the Windows tree exists).
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

step "wrapping dist/hello (Linux) and dist/hello.exe (Windows)"
"$dist/qlxwrap" --stub "$dist/qlx" --jar "$work/hello.jar" --config tests/apps/hello/hello.cfg \
    "${support[@]}" -o "$dist/hello" || fail "qlxwrap failed for dist/hello"
"$dist/qlxwrap" --stub "$dist/qlx.exe" --jar "$work/hello.jar" --config tests/apps/hello/hello.cfg \
    "${support[@]}" --service-name QlxHello --display-name "qlx Hello sample" \
    --description "The qlx sample application." -o "$dist/hello.exe" || fail "qlxwrap failed for dist/hello.exe"
ls -l "$dist/hello" "$dist/hello.exe"

status=0
step "dist/hello /test a b   (Linux launcher, OpenJDK at $jdk)"
JAVA_HOME="$jdk" "$dist/hello" /test a b
rc=$?
echo "exit code: $rc"
[ "$rc" -eq 0 ] || status=1

export WINEPREFIX=${QLX_WINEPREFIX:-$root/build/wineprefix} WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
wine() { env LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8 wine "$@"; }
step "wine dist/hello.exe /help   (prefix $WINEPREFIX)"
wine "$dist/hello.exe" /help
rc=$?
echo "exit code: $rc"
[ "$rc" -eq 0 ] || status=1

double=${QLX_BUILD_WIN:-$root/build/win}/tests/jvmdouble/jvm.dll
if [ -f "$double" ]; then
  # A copy beside an external configuration file that names the stand-in
  # runtime, so dist/ stays as shipped.
  mkdir -p "$work/win"
  cp "$dist/hello.exe" "$work/win/hello.exe"
  printf 'jvmdll Z:%s\r\n' "$(echo "$double" | tr / '\\')" > "$work/win/hello.exe.cfg"
  step "wine hello.exe /test a b   (stand-in jvm.dll: $double)"
  QLX_JVM_LOG="Z:$(echo "$work/win/jvm.log" | tr / '\\')" wine "$work/win/hello.exe" /test a b
  rc=$?
  echo "exit code: $rc"
  if [ -f "$work/win/jvm.log" ]; then
    echo "what the stand-in runtime saw:"
    sed 's/^/  /' "$work/win/jvm.log"
  fi
  [ "$rc" -eq 0 ] || status=1
else
  step "no stand-in jvm.dll at $double: the Windows /test run is skipped"
fi
wineserver -k 2>/dev/null || true

step "done"
[ "$status" -eq 0 ] && echo "the sample ran" || echo "some runs failed (see above)"
exit "$status"
