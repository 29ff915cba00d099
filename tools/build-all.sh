#!/usr/bin/env bash
# Builds the host tree (generator, Linux launcher, tests), the Windows tree
# (qlx.exe and the test doubles), then qlx-wrap.jar, and fills dist/.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
cmake -S . -B build/host -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/host -j "$jobs"
cmake -S . -B build/win -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
cmake --build build/win -j "$jobs"
# qlx-wrap.jar carries the stubs of both trees.
cmake --build build/host -j "$jobs" --target qlx_wrap_jar
mkdir -p dist
cp build/win/launcher/qlx.exe dist/qlx.exe
cp build/host/launcher/qlx dist/qlx
cp build/host/tools/qlxwrap dist/qlxwrap
[ -f build/win/tools/qlxwrap.exe ] && cp build/win/tools/qlxwrap.exe dist/qlxwrap.exe
[ -f build/host/java/qlx-support.jar ] && cp build/host/java/qlx-support.jar dist/qlx-support.jar
cp build/host/tools/qlx-wrap.jar dist/qlx-wrap.jar
echo "dist/: $(ls dist | tr '\n' ' ')"
