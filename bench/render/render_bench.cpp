// The saver's full frame, offscreen through a real view with the real shader
// library and the demo pictures, against the GPU layer's two-pass
// pass-through frame measured in the same process. Both wait for the GPU
// each frame. The slot is held mid-way so that no picture is loaded inside
// the timed frames; the arguments pick the slot effect and whether the next
// picture is fading in. The frame is drawn with the composite built for
// what it shows: 0 (none), 3 (tunnel) and 7 (heat, which moves and
// colours) without the relief effects, 10 (edges) without the moving ones;
// each with the next picture only while it fades in. The ratio benchmark
// alternates the two frames in one loop and reports saver / pass-through
// (the target is at most 1.6) and frames per second of both. cpu_ratio is
// the same ratio in the process's CPU time (the rasteriser's threads
// included): it moves less than the wall-clock ratio when other jobs share
// the machine.
//
// It runs in a temporary HOME and XDG_CONFIG_HOME, so it never reads or
// writes the user's own preferences. QUELLTRINE_BENCH_PICTURES names a
// folder whose pictures to show instead of the demo pictures (which are
// about the size of the frame): photographs far larger than the frame cost
// more to sample. QUELLTRINE_BENCH_BUNDLE names another
// bundle folder to take the shader library from, so that variants of the
// library can be measured against each other without a rebuild.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <time.h>

#include <benchmark/benchmark.h>

#include "bench/gpu/passthrough_frame.h"
#include "host/quelltrine_saver_view.h"
#include "host/settings.h"

namespace {

using quelltrine::QuelltrineSaverView;
namespace gpu = plat::gpu;

// A private home for the whole run, holding a picture folder with the demo
// pictures; the view finds its library in the build's bundle.
struct Environment {
  std::string root;
  Environment() {
    std::string tmpl = "/tmp/quelltrine-bench-XXXXXX";
    if (::mkdtemp(tmpl.data()) != nullptr) root = tmpl;
    ::setenv("HOME", (root + "/home").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    std::filesystem::create_directories(root + "/home");
    std::error_code ec;
    std::filesystem::create_directories(root + "/pictures", ec);
    if (const char* photos = std::getenv("QUELLTRINE_BENCH_PICTURES"); photos != nullptr && *photos != '\0') {
      std::filesystem::copy(photos, root + "/pictures", ec);
    } else {
      for (const char* name : {"landscape.jpg", "shapes.png"})
        std::filesystem::copy_file(std::string(QUELLTRINE_BINARY_DIR) + "/samples/" + name,
                                   root + "/pictures/" + name, ec);
    }
    quelltrine::settings::storeImageFolder(root + "/pictures");
    const char* bundle = std::getenv("QUELLTRINE_BENCH_BUNDLE");
    QuelltrineSaverView::setBundlePathOverride(bundle != nullptr && *bundle != '\0' ? bundle : QUELLTRINE_BUNDLE_DIR);
  }
  ~Environment() {
    std::error_code ec;
    if (!root.empty()) std::filesystem::remove_all(root, ec);
  }
};

Environment& environment() {
  static Environment env;
  return env;
}

struct SaverFrame {
  std::shared_ptr<QuelltrineSaverView> view;
  std::shared_ptr<gpu::Texture> target;
  std::int64_t effect = 0;
  bool fading = false;

  static std::unique_ptr<SaverFrame> create(int w, int h, std::int64_t effect, bool fading) {
    environment();
    auto f = std::make_unique<SaverFrame>();
    f->view = QuelltrineSaverView::initWithFrame(plat::ui::makeRect(0, 0, w, h), false);
    if (!f->view || !f->view->compositePSO || !f->view->presentPSO) return nullptr;
    auto d = gpu::TextureDescriptor::texture2D(gpu::PixelFormat::BGRA8Unorm, static_cast<std::size_t>(w),
                                               static_cast<std::size_t>(h), false);
    d.usage = gpu::TextureUsage::ShaderRead | gpu::TextureUsage::RenderTarget;
    f->target = f->view->device->newTexture(d);
    if (!f->target) return nullptr;
    f->effect = effect;
    f->fading = fading;
    f->view->t = 100.0;
    return f;
  }

  // One frame of the saver with the slot held at full envelope (or half way
  // through the cross-fade).
  void render() {
    view->t += 1.0 / 30.0;
    view->slot.slotEffect = effect;
    view->slot.slotStart = view->t - (fading ? 12.75 : 7.0);
    view->renderFrame(target);
  }
};

double processSeconds() {
  timespec ts{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

using quelltrine::bench::BM_PassthroughFrame;

// Args: width, height, slot effect, fading (0/1).
void BM_SaverFrame(benchmark::State& state) {
  auto frame = SaverFrame::create(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), state.range(2),
                                  state.range(3) != 0);
  if (!frame) {
    state.SkipWithError("no complete renderer");
    return;
  }
  frame->render();
  for (auto _ : state) frame->render();
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// Args: width, height, slot effect, fading. Both frames alternate, so that
// both see the same load of the machine.
void BM_SaverVsPassthrough(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  auto saver = SaverFrame::create(w, h, state.range(2), state.range(3) != 0);
  auto base = quelltrine::bench::PassthroughFrame::create(gpu::createSystemDefaultDevice(), static_cast<std::size_t>(w),
                                                          static_cast<std::size_t>(h));
  if (!saver || !base) {
    state.SkipWithError("no complete renderer");
    return;
  }
  saver->render();
  base->render();
  using Clock = std::chrono::steady_clock;
  double saverSeconds = 0, baseSeconds = 0, saverCPU = 0, baseCPU = 0;
  for (auto _ : state) {
    const double c0 = processSeconds();
    auto t0 = Clock::now();
    saver->render();
    auto t1 = Clock::now();
    const double c1 = processSeconds();
    base->render();
    auto t2 = Clock::now();
    const double c2 = processSeconds();
    saverSeconds += std::chrono::duration<double>(t1 - t0).count();
    baseSeconds += std::chrono::duration<double>(t2 - t1).count();
    saverCPU += c1 - c0;
    baseCPU += c2 - c1;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["ratio"] = baseSeconds > 0 ? saverSeconds / baseSeconds : 0.0;
  state.counters["cpu_ratio"] = baseCPU > 0 ? saverCPU / baseCPU : 0.0;
  state.counters["saver_fps"] = saverSeconds > 0 ? n / saverSeconds : 0.0;
  state.counters["passthrough_fps"] = baseSeconds > 0 ? n / baseSeconds : 0.0;
}

BENCHMARK(BM_PassthroughFrame)->Args({1280, 800})->Args({1920, 1080})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SaverFrame)
    ->ArgNames({"w", "h", "effect", "fading"})
    ->Args({1280, 800, 0, 0})
    ->Args({1280, 800, 0, 1})
    ->Args({1280, 800, 10, 0})
    ->Args({1280, 800, 10, 1})
    ->Args({1920, 1080, 0, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_SaverVsPassthrough)
    ->ArgNames({"w", "h", "effect", "fading"})
    ->Args({1280, 800, 0, 0})
    ->Args({1280, 800, 0, 1})
    ->Args({1280, 800, 3, 0})
    ->Args({1280, 800, 3, 1})
    ->Args({1280, 800, 7, 0})
    ->Args({1280, 800, 7, 1})
    ->Args({1280, 800, 10, 0})
    ->Args({1280, 800, 10, 1})
    ->Args({1920, 1080, 3, 0})
    ->Args({1920, 1080, 7, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
