// Whole processes started through korvane-bench-launch: `command < in > out`, with its time,
// CPU time and peak memory.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/outcome.h"
#include "process.h"
#include "stats.h"

namespace korvane::bench {

// What every whole-process case needs: the programs, and scratch space for the files.
struct WholeProcessSetup {
  std::string server;
  std::string standin;
  std::string launcher;   // korvane-bench-launch
  std::string directory;  // scratch space for the input files and the reply bodies
  std::string before;     // optional: a server built before a change, measured in turn with it
  bool quick = false;     // a tenth of the runs
};

// A command to run, and where its seconds and CPU seconds (times a scale) and its peak go.
struct Timed {
  std::vector<std::string> command;
  Samples* time;
  Samples* peak_kib = nullptr;
  Samples* cpu = nullptr;
};

// Runs each command `< in > /dev/null` once per round, in turn, `runs` rounds.
Outcome<void> repeat(const WholeProcessSetup& setup, const Environment& environment, const std::string& in, int runs,
                     double scale, const std::vector<Timed>& commands);

// One run of the server into a file first: the answers must be there before their times count.
Outcome<void> check_answers(const WholeProcessSetup& setup, const Environment& environment, const std::string& in,
                            std::size_t lines, std::string_view expected, std::size_t at_least_bytes = 0);

}  // namespace korvane::bench
