// Milliseconds per baseline frame (passthrough_frame.h) at the two common
// screen sizes, offscreen and waited for.
#include "bench/gpu/passthrough_frame.h"

using quelltrine::bench::BM_PassthroughFrame;
BENCHMARK(BM_PassthroughFrame)->Args({1280, 800})->Args({1920, 1080})->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
