// velk-run test against separate velk-run runs of the same readings, as whole processes: each
// scenario has a worker of its own, as each run has, so 200 scenarios of 10 readings should cost
// no more than 200 runs. And the memory of one scenario of many readings: what the file parses
// into, not what its steps show, which is checked and let go step by step.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace velk_bench {
namespace {

constexpr int kScenarios = 200;
constexpr int kReadings = 10;
const char kClock[] = "2026-01-01 00:00:00";

// A folder of its own for the scenario files, removed with what it holds.
class Folder {
 public:
  Folder() : path_("/tmp/velk-scenarios-XXXXXX") { mkdtemp(&path_[0]); }
  ~Folder() {
    for (const std::string& file : files_) std::remove(file.c_str());
    rmdir(path_.c_str());
  }
  // A scenario of `readings` readings (1000, 1001, ...), at the clock the runs are given.
  std::string Scenario(int readings) {
    files_.push_back(path_ + "/" + std::to_string(files_.size()) + ".json");
    std::ofstream file(files_.back());
    file << "{\"clock\": \"" << kClock << "\", \"steps\": [";
    for (int i = 0; i < readings; ++i)
      file << (i ? ", " : "") << "{\"reading\": " << 1000 + i % 1000 << "}";
    file << "]}\n";
    return files_.back();
  }

 private:
  std::string path_;
  std::vector<std::string> files_;
};

// Runs velk-run with `arguments`, its output thrown away; its status, and its use of resources.
int VelkRun(std::vector<std::string> arguments, rusage* usage = nullptr) {
  arguments.insert(arguments.begin(), VELK_RUN_PATH);
  std::vector<char*> argv;
  for (std::string& word : arguments) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = -1;
  rusage ignored{};
  if (spawned != 0 || wait4(pid, &status, 0, usage ? usage : &ignored) != pid) return -1;
  return status;
}

void BM_ScenarioTest(benchmark::State& state) {
  Folder folder;
  std::vector<std::string> arguments = {"test"};
  for (int i = 0; i < kScenarios; ++i) arguments.push_back(folder.Scenario(kReadings));
  for (auto _ : state) {
    if (VelkRun(arguments) != 0) state.SkipWithError("velk-run test failed");
  }
}
BENCHMARK(BM_ScenarioTest)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SeparateRuns(benchmark::State& state) {
  std::vector<std::string> arguments = {"--clock", kClock};
  for (int i = 0; i < kReadings; ++i) arguments.push_back(std::to_string(1000 + i));
  for (auto _ : state) {
    for (int i = 0; i < kScenarios; ++i) {
      if (VelkRun(arguments) != 0) state.SkipWithError("velk-run failed");
    }
  }
}
BENCHMARK(BM_SeparateRuns)->Unit(benchmark::kMillisecond)->UseRealTime();

// The largest of velk-run's processes (velk-run or its worker), for a scenario of range(0)
// readings, and the size of its file.
void BM_ScenarioMemory(benchmark::State& state) {
  Folder folder;
  const std::string scenario = folder.Scenario(static_cast<int>(state.range(0)));
  rusage usage{};
  for (auto _ : state) {
    if (VelkRun({"test", scenario}, &usage) != 0) state.SkipWithError("velk-run test failed");
  }
  struct stat file {};
  stat(scenario.c_str(), &file);
  state.counters["max_rss_kib"] = static_cast<double>(usage.ru_maxrss);
  state.counters["file_kib"] = static_cast<double>(file.st_size) / 1024;
}
BENCHMARK(BM_ScenarioMemory)
    ->Arg(1000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace
}  // namespace velk_bench
