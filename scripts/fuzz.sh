#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer (build-fuzz/) and runs each
# for the given number of seconds over a copy of its seed corpus. Exits
# non-zero when a target finds a crash, a leak or a sanitizer report.
#   scripts/fuzz.sh [SECONDS]      default 60
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET="${1:-60}"

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DQUELLTRINE_FUZZ=ON \
  -DQUELLTRINE_BUILD_TESTS=OFF -DQUELLTRINE_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j 2 --target image_fuzzer image_fuzz_corpus

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$work/artifacts"
build-fuzz/fuzz/image/image_fuzz_corpus "$work/corpus"

export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
status=0
build-fuzz/fuzz/image/image_fuzzer "$work/corpus" \
  -max_total_time="$SECONDS_PER_TARGET" -rss_limit_mb=2048 -max_len=1048576 -timeout=10 \
  -artifact_prefix="$work/artifacts/" -print_final_stats=1 || status=$?
if ((status != 0)); then
  mkdir -p build-fuzz/crashes
  cp -r "$work/artifacts/." build-fuzz/crashes/ 2>/dev/null || true
  echo "image_fuzzer failed (status $status); inputs kept in build-fuzz/crashes/" >&2
  exit "$status"
fi
echo "image_fuzzer: no crash in ${SECONDS_PER_TARGET}s"
