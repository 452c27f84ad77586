// Many devices: memory per device, and a round's cost as the number of devices grows.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <memory>
#include <vector>

#include "benchmarks/loaded_plugin.h"
#include "devices/velk_temperature.h"

namespace velk_bench {
namespace {

constexpr int kTypicalSignals = 4;

std::size_t LiveHeapBytes() { return mallinfo2().uordblks; }

void BM_DeviceMemory(benchmark::State& state) {
  LoadedPlugin plugin;
  const Json::Value config = ConfigWithSignals(kTypicalSignals);
  SilencedStdout silence;
  constexpr int kDevices = 1000;
  std::vector<std::unique_ptr<DranAIDevice> > devices;
  devices.reserve(kDevices);
  double heap_per_device = 0;
  for (auto _ : state) {
    const std::size_t before = LiveHeapBytes();
    for (int i = 0; i < kDevices; ++i) {
      devices.push_back(plugin.NewDevice());
      devices.back()->InitSetting(config);
    }
    heap_per_device = static_cast<double>(LiveHeapBytes() - before) / kDevices;
    state.PauseTiming();
    devices.clear();
    state.ResumeTiming();
  }
  state.counters["sizeof_device"] = sizeof(VelkTemperature);
  state.counters["heap_bytes_per_device"] = heap_per_device;
}
BENCHMARK(BM_DeviceMemory)->Iterations(3);

// One round per iteration, each on the next device in turn.
void BM_RoundAcrossDevices(benchmark::State& state) {
  LoadedPlugin plugin;
  const Json::Value config = ConfigWithSignals(kTypicalSignals);
  SilencedStdout silence;
  std::vector<std::unique_ptr<DranAIDevice> > devices;
  for (int i = 0; i < state.range(0); ++i) {
    devices.push_back(plugin.NewDevice());
    devices.back()->InitSetting(config);
  }
  std::size_t next = 0;
  short raw = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(devices[next]->process(raw));
    next = next + 1 == devices.size() ? 0 : next + 1;
    raw = static_cast<short>((raw + 7) % 2000);
  }
}
BENCHMARK(BM_RoundAcrossDevices)->Arg(1)->Arg(100)->Arg(10000);

}  // namespace
}  // namespace velk_bench
