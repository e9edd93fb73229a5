#include "launched.h"

#include <cstdio>
#include <utility>

#include "pipe_io.h"
#include "testkit/files.h"

namespace korvane::bench {
namespace {

struct Launched {
  int status = 0;
  double seconds = 0;
  double peak_kib = 0;
  double cpu_seconds = 0;
};

// One run of `command < in > out` through the launcher.
Outcome<Launched> launch(const WholeProcessSetup& setup, const Environment& environment, const std::string& in,
                         const std::string& out, const std::vector<std::string>& command) {
  std::vector<std::string> argv{setup.launcher, in, out};
  argv.insert(argv.end(), command.begin(), command.end());
  auto spawned = spawn_child(argv, environment, setup.directory + "/launched.stderr");
  if (!spawned) return error_text(spawned.error());
  Child launcher = std::move(spawned).value();
  launcher.close_input();
  LineReceiver receiver(launcher.output());
  auto line = receiver.next_line();
  if (!line) return error_text("launcher: " + line.error());
  Launched run;
  const std::string text(line.value());
  if (std::sscanf(text.c_str(), "%d %lf %lf %lf", &run.status, &run.seconds, &run.peak_kib, &run.cpu_seconds) != 4) {
    return error_text("launcher said: " + text);
  }
  if (auto ended = launcher.finish(); !ended) return error_text("launcher: " + ended.error());
  if (run.status != 0) return error_text(command[0] + " exited with status " + std::to_string(run.status));
  return run;
}

}  // namespace

Outcome<void> repeat(const WholeProcessSetup& setup, const Environment& environment, const std::string& in, int runs,
                     double scale, const std::vector<Timed>& commands) {
  for (int run = 0; run < runs; ++run) {
    for (const Timed& timed : commands) {
      auto launched = launch(setup, environment, in, "/dev/null", timed.command);
      if (!launched) return error_text(launched.error());
      timed.time->add(launched.value().seconds * scale);
      if (timed.cpu != nullptr) timed.cpu->add(launched.value().cpu_seconds * scale);
      if (timed.peak_kib != nullptr) timed.peak_kib->add(launched.value().peak_kib);
    }
  }
  return ok_outcome();
}

Outcome<void> check_answers(const WholeProcessSetup& setup, const Environment& environment, const std::string& in,
                            std::size_t lines, std::string_view expected, std::size_t at_least_bytes) {
  const std::string out = setup.directory + "/answers.out";
  auto launched = launch(setup, environment, in, out, {setup.server});
  if (!launched) return error_text(launched.error());
  const std::string answers = testkit::read_file(out);
  std::size_t count = 0;
  for (char c : answers) count += c == '\n' ? 1 : 0;
  if (count != lines || answers.find(expected) == std::string::npos || answers.size() < at_least_bytes) {
    return error_text("unexpected answers: " + answers.substr(0, 200));
  }
  return ok_outcome();
}

}  // namespace korvane::bench
