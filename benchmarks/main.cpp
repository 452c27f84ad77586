// Runs the benchmarks, then states how a reading through velk-run compares with the bare round.
// What a round costs against its mandated output is counted in instructions instead
// (scripts/cost-report.sh), which do not move from run to run.
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
    Ratio("BM_RunnerReading", "BM_Round", "velk-run per reading / bare round", 20);
    Ratio("BM_ScenarioTest", "BM_SeparateRuns",
          "velk-run test over 200 scenarios / 200 velk-run runs of their readings", 1);
  }

 private:
  // Said only when both were run, as in a filtered run they may not be.
  void Ratio(const std::string& measured, const std::string& against, const char* label,
             double goal) {
    const auto top = times_.find(measured);
    const auto bottom = times_.find(against);
    if (top != times_.end() && bottom != times_.end() && bottom->second > 0) {
      GetOutputStream() << label << ": " << top->second / bottom->second << " (goal: at most "
                        << goal << ")\n";
    }
  }

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
