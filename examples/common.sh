#!/usr/bin/env bash
# Shared by the examples' build scripts: compiles one example's Java
# sources against the support classes, packs them and wraps them.
#
# Inputs (environment, with defaults for a tree built by tools/build-all.sh):
#   QLX_DIST     folder with qlxwrap, qlx.exe, qlx and qlx-support.jar (<repo>/dist)
#   QLX_STUB     launcher stub to wrap (qlx.exe; use $QLX_DIST/qlx for Linux)
#   QLX_OUT      output folder (the example's out/)
#   JAVAC, JAR   the JDK tools (from PATH)
set -euo pipefail

examples_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
QLX_DIST=${QLX_DIST:-$examples_dir/../dist}
QLX_STUB=${QLX_STUB:-$QLX_DIST/qlx.exe}
JAVAC=${JAVAC:-javac}
JAR=${JAR:-jar}

# build_example DIR OUTPUT_NAME [qlxwrap options...]
build_example() {
  local dir=$1 name=$2
  shift 2
  local out=${QLX_OUT:-$dir/out}
  local classes=$out/classes
  rm -rf "$classes" && mkdir -p "$classes"
  # --release 8: the program runs on any Java 8 or later runtime.
  "$JAVAC" --release 8 -nowarn -cp "$QLX_DIST/qlx-support.jar" -d "$classes" \
           $(find "$dir/src" -name '*.java')
  "$JAR" cf "$out/app.jar" -C "$classes" .
  "$QLX_DIST/qlxwrap" --stub "$QLX_STUB" --jar "$out/app.jar" --config "$dir/app.cfg" \
                      --support -o "$out/$name" "$@"
  echo "built $out/$name"
}
