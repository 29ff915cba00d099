#!/usr/bin/env bash
# The main job: builds the launcher and the generator, wraps the sample
# application and runs it (Linux launcher on the machine's OpenJDK, and the
# Windows launcher under Wine).
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh
tools/build-all.sh
tools/wrap-sample.sh
