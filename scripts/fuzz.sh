#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer (build-fuzz/) and runs each
# for the given number of seconds over a copy of its seed corpus: the
# picture decoders, the preferences file format and the command line.
# Exits non-zero when a target finds a crash, a leak or a sanitizer report;
# the input that did it is kept in build-fuzz/crashes/<target>/.
#   scripts/fuzz.sh [SECONDS]      default 60, per target
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET="${1:-60}"

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DQUELLTRINE_FUZZ=ON \
  -DQUELLTRINE_BUILD_TESTS=OFF -DQUELLTRINE_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j 2 --target image_fuzzer image_fuzz_corpus store_fuzzer command_line_fuzzer

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Seed corpora: the image fixtures, written by a program; the preferences
# files as they are; the command lines from one word per line after a flag
# line (E: the first word is XSCREENSAVER_WINDOW) to NUL-separated words.
mkdir -p "$work/image_fuzzer" "$work/store_fuzzer" "$work/command_line_fuzzer"
build-fuzz/fuzz/image/image_fuzz_corpus "$work/image_fuzzer"
cp fuzz/store/seeds/* "$work/store_fuzzer/"
for seed in fuzz/command_line/seeds/*.args; do
  { head -c 1 "$seed"; tail -n +2 "$seed" | tr '\n' '\0'; } >"$work/command_line_fuzzer/$(basename "$seed")"
done

export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"

# fuzz TARGET BINARY MAX_LEN
fuzz() {
  local target="$1" binary="$2" max_len="$3" status=0
  mkdir -p "$work/artifacts/$target"
  "$binary" "$work/$target" -max_total_time="$SECONDS_PER_TARGET" -rss_limit_mb=2048 -max_len="$max_len" \
    -timeout=10 -artifact_prefix="$work/artifacts/$target/" -print_final_stats=1 || status=$?
  if ((status != 0)); then
    mkdir -p "build-fuzz/crashes/$target"
    cp -r "$work/artifacts/$target/." "build-fuzz/crashes/$target/" 2>/dev/null || true
    echo "$target failed (status $status); inputs kept in build-fuzz/crashes/$target/" >&2
    return "$status"
  fi
  echo "$target: no crash in ${SECONDS_PER_TARGET}s"
}

fuzz image_fuzzer build-fuzz/fuzz/image/image_fuzzer 1048576
fuzz store_fuzzer build-fuzz/fuzz/store/store_fuzzer 65536
fuzz command_line_fuzzer build-fuzz/fuzz/command_line/command_line_fuzzer 4096
