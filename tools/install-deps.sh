#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (idempotent);
# given package names, installs those instead.
set -euo pipefail
packages=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev googletest
          libbenchmark-dev g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth xdotool imagemagick
          python3 python3-pytest openjdk-17-jdk-headless zip unzip osslsigncode openssl
          maven libmaven-plugin-tools-java libmaven-resources-plugin-java libmaven-compiler-plugin-java
          libmaven-jar-plugin-java libsurefire-java libcommons-lang3-java gradle)
if [ $# -gt 0 ]; then packages=("$@"); fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
