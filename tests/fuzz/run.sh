#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour
# sanitizers on every object) and runs each for a bounded time from its
# checked-in seed corpus. Exits non-zero when any target finds a crash.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${QLX_FUZZ_SECONDS:-20}
build=build/fuzz
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -g -O1"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DQLX_FUZZ=ON -DQLX_TESTS=ON -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$build" -j 2 --target qlx_fuzz_targets

root=$PWD
bin="$root/$build/tests/fuzz"
work="$root/$build/run"
mkdir -p "$work"
status=0
for target in fuzz_config fuzz_expand fuzz_arguments fuzz_switches fuzz_payload fuzz_messages \
              fuzz_chunks fuzz_logrotate fuzz_rotating_log fuzz_inspect fuzz_inflate; do
  mkdir -p "$work/corpus-$target"
  echo "== $target (${seconds}s)"
  if ! (cd "$work" && UBSAN_OPTIONS=print_stacktrace=1 "$bin/$target" -max_total_time="$seconds" \
        -max_len=8192 -timeout=10 -rss_limit_mb=2048 -print_final_stats=0 \
        "corpus-$target" "$root/tests/fuzz/corpus/$target" 2>"$target.log"); then
    echo "$target FAILED:"
    tail -40 "$work/$target.log"
    status=1
  else
    grep -E "^Done [0-9]+ runs" "$work/$target.log" | tail -1 || true
  fi
done
exit $status
