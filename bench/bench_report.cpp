#include "bench_report.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>

namespace hv::bench {
namespace {

class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
        seconds_[run.run_name.function_name] =
            run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  const std::map<std::string, double>& seconds() const { return seconds_; }

 private:
  std::map<std::string, double> seconds_;
};

}  // namespace

int RunAndReport(int argc, char** argv, const std::vector<Ratio>& ratios) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n");
  for (const Ratio& ratio : ratios) {
    const auto figure = reporter.seconds().find(ratio.figure);
    const auto reference = reporter.seconds().find(ratio.reference);
    if (figure == reporter.seconds().end() || reference == reporter.seconds().end()) continue;
    std::printf("ratio %s / %s = %.2f (%s)\n", ratio.figure.c_str(), ratio.reference.c_str(),
                figure->second / reference->second, ratio.meaning.c_str());
  }
  benchmark::Shutdown();
  return 0;
}

}  // namespace hv::bench
