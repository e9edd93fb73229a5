// The relay of one screen_ocr call whose reply has each of several shapes (the OCR reply, one
// full of escapes, a nested object, a flat object, an array of lines), the server and the earlier
// build in turn, with the time, CPU time and peak memory of each, and the stand-in app alone.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "launched.h"
#include "stats.h"

namespace korvane::bench {

struct RelayShape {
  std::string name;
  std::size_t reply_bytes = 0;
  Samples server_ms, server_cpu_ms, server_peak_kib;
  Samples before_ms, before_cpu_ms, before_peak_kib;
  Samples floor_ms;  // the stand-in app alone, the same reply fetched over HTTP
};

struct RelayShapes {
  std::vector<RelayShape> shapes;  // the OCR reply first
  std::vector<std::string> failures;
};

// Writes each shape's reply to DIR/<n>-<name>.json (spaces and commas made dashes), for runs by
// hand (under a memory limit, say); the paths written, one a line, on `out`.
Outcome<void> write_shape_replies(const std::string& directory, std::FILE* out);

// `runs` rounds for each shape; `only_ocr` measures the first shape alone.
RelayShapes measure_relay_shapes(const WholeProcessSetup& setup, int runs, bool only_ocr = false);

// Prints the shapes side by side with the earlier build, then their targets: peak memory at most
// 1.5x the reply and, where an earlier build was measured, no higher than its (within 1%), with
// CPU time at most a share of its (0.75 for the OCR reply, 0.70 for escapes, 0.50 for nested
// objects, whose cost per MB is also at most twice the OCR reply's; 1.05 for the rest). Returns
// the number of failed targets.
int print_relay_shapes(std::FILE* out, const RelayShapes& measured);

}  // namespace korvane::bench
