#!/usr/bin/env bash
# Builds Quelltrine and runs the whole test suite (unit, GPU on Mesa's
# software rasteriser, GUI under an Xvfb this script starts, ...).
#   scripts/test.sh            normal build in build/
#   scripts/test.sh --asan     AddressSanitizer + UBSan build in build-asan/
#   scripts/test.sh -L gpu     only one area (any further ctest arguments)
set -euo pipefail
cd "$(dirname "$0")/.."

"./scripts/install-deps.sh"

BUILD=build
CMAKE_ARGS=(-DQUELLTRINE_WERROR=ON)
if [[ "${1:-}" == "--asan" ]]; then
  shift
  BUILD=build-asan
  CMAKE_ARGS+=(-DQUELLTRINE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DQUELLTRINE_BUILD_BENCH=OFF)
  export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:${ASAN_OPTIONS:-}"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
fi

cmake -S . -B "$BUILD" -G Ninja "${CMAKE_ARGS[@]}" >/dev/null
cmake --build "$BUILD" -j "$(nproc)"

# Headless GPU: Mesa's software rasteriser, with no display needed.
export LIBGL_ALWAYS_SOFTWARE=1
unset DISPLAY

cd "$BUILD"
ctest --output-on-failure -j "$(nproc)" "$@"
