// The results table and the target verdicts.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cases.h"

namespace korvane::bench {

// An integer with thousands separated: 200,000.
std::string with_separators(long long whole);

// Three significant digits or more, thousands separated.
std::string number(double value);

// "median [min .. max]" of the samples times `factor`, or "not measured".
std::string summary(const Samples& samples, double factor);

// Prints one row per figure: korvane's and the baseline's median [min .. max], and their ratio.
void print_table(std::FILE* out, const Figures& ours, const Figures* baseline, const Scale& ours_scale,
                 const Scale& baseline_scale);

// Prints the stand-in app's own serving times next to the relay figures.
void print_app_floor(std::FILE* out, const AppFloor& floor);

// Prints PASS or FAIL for each target; returns the number of failed targets.
int print_targets(std::FILE* out, const Figures& ours, const Figures* baseline, const Workspace& workspace);

// Prints the texts of the cases that could not be measured, then the notes.
void print_failures(std::FILE* out, const std::string& server, const Figures& figures);

}  // namespace korvane::bench
