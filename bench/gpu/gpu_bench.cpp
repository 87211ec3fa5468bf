// Milliseconds per baseline frame (passthrough_frame.h) at the two common
// screen sizes, offscreen and waited for.
#include <benchmark/benchmark.h>

#include "bench/gpu/passthrough_frame.h"

namespace {

void BM_PassthroughFrame(benchmark::State& state) {
  auto device = plat::gpu::createSystemDefaultDevice();
  std::string error;
  auto frame = quelltrine::bench::PassthroughFrame::create(device, static_cast<std::size_t>(state.range(0)),
                                                           static_cast<std::size_t>(state.range(1)), &error);
  if (!frame) {
    state.SkipWithError(error.empty() ? "no GPU device" : error.c_str());
    return;
  }
  frame->render();  // first use compiles lazily inside the driver
  for (auto _ : state) {
    if (!frame->render()) state.SkipWithError("frame refused");
  }
  state.SetLabel(device->limits().rendererName);
}
BENCHMARK(BM_PassthroughFrame)->Args({1280, 800})->Args({1920, 1080})->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
