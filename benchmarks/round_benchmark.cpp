// What one round costs, beside the only output a round must write, what velk-run adds to it,
// and what it allocates.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "benchmarks/heap_counter.h"
#include "benchmarks/loaded_plugin.h"
#include "loader/config.h"
#include "runner/session.h"

namespace velk_bench {
namespace {

short NextRaw(short raw) { return static_cast<short>((raw + 7) % 2000); }

void BM_Round(benchmark::State& state) {
  LoadedPlugin plugin;
  auto device = plugin.NewDevice();
  SilencedStdout silence;
  short raw = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(device->process(raw));
    raw = NextRaw(raw);
  }
}
BENCHMARK(BM_Round);

// The floor under a round: its two log lines, each written whole and flushed.
void BM_MandatedOutput(benchmark::State& state) {
  SilencedStdout silence;
  short raw = 0;
  int rules = 1;
  for (auto _ : state) {
    benchmark::DoNotOptimize(rules);  // counted at run time, as the round counts its rules
    WriteLogLine("VelkTemperature process ", raw);
    WriteLogLine("rvSize is ", rules);
    raw = NextRaw(raw);
  }
}
BENCHMARK(BM_MandatedOutput);

// A reading as velk-run runs it: the example device configured, the round, and its events
// formatted and written to a file. The file is unlinked at once, so it goes with the run.
void BM_RunnerReading(benchmark::State& state) {
  std::string path = "/tmp/velk-events-XXXXXX";
  const int events = mkstemp(&path[0]);
  if (events < 0) {
    state.SkipWithError("no temporary file for the events");
    return;
  }
  unlink(path.c_str());
  SilencedStdout silence;
  {
    velk_run::Progress progress;
    velk_run::Report report;
    velk_run::Session session(events, progress, report);
    session.Load(VELK_PLUGIN_PATH);
    session.Configure(17, velk::ReadConfig(VELK_EXAMPLES_DIR "/temperature.json"),
                      "the example configuration");
    short raw = 0;
    std::uint64_t line = 0;
    for (auto _ : state) {
      session.Process(raw, "the reading on line " + std::to_string(++line) + " of standard input");
      raw = NextRaw(raw);
    }
    session.Close();
  }
  close(events);
}
BENCHMARK(BM_RunnerReading);

// Allocations per round in steady state, for `keys` report keys of `key_length` bytes.
// Keys of up to 15 bytes fit the standard string's inline buffer.
void BM_RoundAllocations(benchmark::State& state) {
  const int keys = static_cast<int>(state.range(0));
  const std::size_t key_length = static_cast<std::size_t>(state.range(1));
  LoadedPlugin plugin;
  auto device = plugin.NewDevice();
  for (int i = 0; i < keys; ++i) {
    std::string key(key_length, 'k');
    key.back() = static_cast<char>('a' + i);
    device->ao_keys_.push_back(key);
    device->ao_values_[key] = 1.0f + i;
  }
  SilencedStdout silence;
  for (int warm_up = 0; warm_up < 8; ++warm_up) device->process(1000);
  short raw = 0;
  const std::size_t before = HeapAllocations();
  for (auto _ : state) {
    benchmark::DoNotOptimize(device->process(raw));
    raw = NextRaw(raw);
  }
  state.counters["allocs_per_round"] = benchmark::Counter(
      static_cast<double>(HeapAllocations() - before) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_RoundAllocations)->Args({0, 0})->Args({4, 15})->Args({4, 16});

}  // namespace
}  // namespace velk_bench
