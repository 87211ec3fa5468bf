// The frame path's preference read: settings::effectiveInterval() opens the
// store and reads "interval", twice per frame. Measured with the file
// unchanged (one stat per read) against a forced re-parse on every read, in
// the same run, in a private preferences folder; prints the ratio at the end.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include <benchmark/benchmark.h>

#include "host/settings.h"
#include "platform/store/screen_saver_defaults.h"

namespace {

using plat::store::ScreenSaverDefaults;

std::shared_ptr<ScreenSaverDefaults> store() {
  return ScreenSaverDefaults::defaultsForModuleWithName(quelltrine::settings::kModuleName);
}

void BM_EffectiveIntervalUnchangedFile(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(quelltrine::settings::effectiveInterval());
}
BENCHMARK(BM_EffectiveIntervalUnchangedFile);

void BM_EffectiveIntervalForcedReparse(benchmark::State& state) {
  auto s = store();
  for (auto _ : state) {
    s->discardCachedFile();
    benchmark::DoNotOptimize(quelltrine::settings::effectiveInterval());
  }
}
BENCHMARK(BM_EffectiveIntervalForcedReparse);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    // Plain runs, or the mean when repetitions are aggregated.
    for (const Run& r : runs) {
      const bool plain = r.run_type == Run::RT_Iteration;
      if (plain || r.aggregate_name == "mean") nsPerRead_[r.run_name.function_name] = r.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const auto cached = nsPerRead_.find("BM_EffectiveIntervalUnchangedFile");
    const auto parsed = nsPerRead_.find("BM_EffectiveIntervalForcedReparse");
    if (cached != nsPerRead_.end() && parsed != nsPerRead_.end() && cached->second > 0) {
      std::printf("forced re-parse / unchanged file = %.1fx (%.0f ns vs %.0f ns per read)\n",
                  parsed->second / cached->second, parsed->second, cached->second);
    }
  }

 private:
  std::map<std::string, double> nsPerRead_;
};

}  // namespace

int main(int argc, char** argv) {
  char tmpl[] = "/tmp/quelltrine-bench-XXXXXX";
  const char* dir = ::mkdtemp(tmpl);
  if (dir == nullptr) return 1;
  ::setenv("XDG_CONFIG_HOME", dir, 1);
  // A realistic file: both keys set by the options window.
  quelltrine::settings::storeImageFolder("/home/user/Pictures/Quelltrine Screensaver");
  quelltrine::settings::storeInterval(14.5);
  if (quelltrine::settings::effectiveInterval() != 14.5) return 1;

  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
