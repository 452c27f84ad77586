// Runs the benchmarks, then states how a round compares with its mandated output.
#include <benchmark/benchmark.h>

#include <iostream>
#include <map>
#include <string>

namespace {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    // With repetitions the median stands for the benchmark; it is reported after the runs.
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration || run.aggregate_name == "median") {
        times_[run.run_name.str()] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const auto round = times_.find("BM_Round");
    const auto floor = times_.find("BM_MandatedOutput");
    if (round != times_.end() && floor != times_.end() && floor->second > 0) {
      GetOutputStream() << "round / mandated output: " << round->second / floor->second
                        << " (goal: at most 1.6)\n";
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
