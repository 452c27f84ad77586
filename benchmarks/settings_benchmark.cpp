// Loading a configuration with many signals.
#include <benchmark/benchmark.h>

#include "benchmarks/loaded_plugin.h"

namespace velk_bench {
namespace {

void BM_InitSetting(benchmark::State& state) {
  LoadedPlugin plugin;
  auto device = plugin.NewDevice();
  const Json::Value config = ConfigWithSignals(static_cast<int>(state.range(0)));
  SilencedStdout silence;
  for (auto _ : state) benchmark::DoNotOptimize(device->InitSetting(config));
}
BENCHMARK(BM_InitSetting)->Arg(100);

}  // namespace
}  // namespace velk_bench
