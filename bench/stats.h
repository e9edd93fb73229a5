// Repeated measurements of one figure, summarised as median, min and max.
#pragma once

#include <vector>

namespace korvane::bench {

class Samples {
 public:
  void add(double value) { values_.push_back(value); }
  bool empty() const { return values_.empty(); }
  std::size_t count() const { return values_.size(); }
  double median() const;
  double min() const;
  double max() const;
  const std::vector<double>& values() const { return values_; }  // in the order added

 private:
  std::vector<double> values_;
};

}  // namespace korvane::bench
