// Runs the registered Google Benchmarks and then prints, for each pair (figure, reference), the
// ratio of their times measured in this same run: these machines are too noisy for absolute
// targets alone.
#pragma once

#include <string>
#include <vector>

namespace hv::bench {

struct Ratio {
  std::string figure;     // benchmark name
  std::string reference;  // benchmark name
  std::string meaning;    // what the ratio is held against, e.g. "target <= 2.0"
};

int RunAndReport(int argc, char** argv, const std::vector<Ratio>& ratios);

}  // namespace hv::bench
