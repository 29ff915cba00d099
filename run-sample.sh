#!/usr/bin/env bash
# The main job: builds the launcher and the generator, wraps the sample
# application into build/sample/ and runs it (Linux launcher on the machine's
# OpenJDK, and the Windows launcher under Wine on the Windows test VM when one
# is found; tools/wrap-sample.sh says which VM ran each time).
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh
tools/build-all.sh
tools/wrap-sample.sh
