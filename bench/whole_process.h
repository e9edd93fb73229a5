// The whole-process cases: the server run as a shell runs it, `korvane-mcp < file > /dev/null`,
// timed from its start to its exit, each beside its floor: `cat` of the same bytes for the
// pipelined inputs and a start, the stand-in app alone for the relay. The server, an earlier
// build of it if given, and the floor run in turn, so that all of them meet the same machine.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "launched.h"
#include "relay_shapes.h"
#include "stats.h"

namespace korvane::bench {

struct WholeProcessCase {
  std::string label;
  std::string unit;  // of `server`, `before` and `floor`
  Samples server;
  Samples before;
  Samples floor;
  std::string floor_name;
  Samples server_cpu;  // user and system time, in the same unit: a slow host shows as a gap to it
  Samples before_cpu;
};

struct WholeProcessFigures {
  std::vector<WholeProcessCase> cases;  // initialize, tools/list, relay, cold start
  RelayShapes relay;                    // the relay case is its first shape's
  Samples fixed_work_ms;                // a fixed loop on one core, then on two at once; before and after the cases
  std::vector<std::string> failures;
};

WholeProcessFigures measure_whole_process(const WholeProcessSetup& setup);

// Prints the cases with their floors, the relay by reply shape, then the targets with PASS or
// FAIL; returns the number of failed targets.
int print_whole_process(std::FILE* out, const WholeProcessFigures& figures);

}  // namespace korvane::bench
