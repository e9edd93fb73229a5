#include "stats.h"

#include <algorithm>

namespace korvane::bench {

double Samples::median() const {
  if (values_.empty()) return 0;
  std::vector<double> sorted = values_;
  std::sort(sorted.begin(), sorted.end());
  const std::size_t middle = sorted.size() / 2;
  return sorted.size() % 2 == 1 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
}

double Samples::min() const { return values_.empty() ? 0 : *std::min_element(values_.begin(), values_.end()); }

double Samples::max() const { return values_.empty() ? 0 : *std::max_element(values_.begin(), values_.end()); }

}  // namespace korvane::bench
