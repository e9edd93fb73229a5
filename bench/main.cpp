// korvane-bench: measures korvane-mcp (cold start, pipelined throughput, relay of large app replies,
// peak memory) side by side with a reference server on the TypeScript MCP SDK, and prints a table
// of medians with the performance targets. Usage: see bench/run.sh.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "cases.h"
#include "platform/process_usage.h"
#include "relay_shapes.h"
#include "report.h"
#include "testkit/files.h"
#include "whole_process.h"
#include "workloads.h"

namespace korvane::bench {
namespace {

struct Options {
  std::string server;
  std::string standin;
  std::string baseline_script;  // empty: no baseline
  std::string node = "node";
  std::string launcher;       // korvane-bench-launch, for the whole-process cases
  std::string before;         // an earlier build of the server, measured in turn in those cases
  std::string write_replies;  // a folder: only write the relay's replies there
};

constexpr std::string_view kUsage =
    "usage: korvane-bench --server PATH --standin PATH [--baseline SERVER.mjs] [--node PATH] [--launcher PATH]\n"
    "                     [--before PATH]\n"
    "       korvane-bench --write-replies DIR   writes the relay's reply of each shape to DIR\n"
    "       KORVANE_BENCH_QUICK=1 runs a tenth of the repetitions and lines\n"
    "       KORVANE_BENCH_WHOLE_PROCESS_ONLY=1 runs only the whole-process cases (they need --launcher)\n";

std::string* option_slot(Options& options, std::string_view name) {
  if (name == "--server") return &options.server;
  if (name == "--standin") return &options.standin;
  if (name == "--baseline") return &options.baseline_script;
  if (name == "--node") return &options.node;
  if (name == "--launcher") return &options.launcher;
  if (name == "--before") return &options.before;
  if (name == "--write-replies") return &options.write_replies;
  return nullptr;
}

std::optional<Options> parse_options(int argc, char** argv) {
  Options options;
  if (argc % 2 == 0) return std::nullopt;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string* slot = option_slot(options, argv[i]);
    if (slot == nullptr) return std::nullopt;
    *slot = argv[i + 1];
  }
  if (!options.write_replies.empty()) return options;
  if (options.server.empty() || options.standin.empty()) return std::nullopt;
  return options;
}

bool environment_flag(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && !std::string_view(value).empty() && std::string_view(value) != "0";
}

Scale chosen_scale() {
  Scale scale;
  if (!environment_flag("KORVANE_BENCH_QUICK")) return scale;
  scale.cold_runs = 20;
  scale.idle_runs = 3;
  scale.pipeline_runs = 2;
  scale.initialize_lines /= 10;
  scale.tools_list_lines /= 10;
  scale.large_lines /= 10;
  scale.relay_small_runs = 5;
  scale.relay_large_runs = 3;
  return scale;
}

// Node takes a quarter of a second to start and is slow on long pipelines: fewer repetitions keep
// the whole run within a few minutes on two cores.
Scale baseline_scale(Scale scale) {
  scale.cold_runs = std::max(10, scale.cold_runs / 4);
  scale.pipeline_runs = std::max(2, scale.pipeline_runs * 3 / 5);
  return scale;
}

// The paths in `directory` and the reply bodies written there.
Outcome<Workspace> make_workspace(const Options& options, const std::string& directory) {
  Workspace workspace;
  workspace.directory = directory;
  workspace.missing_socket_info = directory + "/no-app/socket-info.json";
  workspace.standin_binary = options.standin;
  workspace.small_body_path = directory + "/ocr-1mb.json";
  workspace.large_body_path = directory + "/ocr-20mb.json";
  const std::string small = ocr_reply_body(kMiB);
  const std::string large = ocr_reply_body(20 * kMiB);
  workspace.small_body_bytes = small.size();
  workspace.large_body_bytes = large.size();
  auto written = testkit::write_file(workspace.small_body_path, small);
  if (written) written = testkit::write_file(workspace.large_body_path, large);
  if (!written) return error_text(written.error());
  return workspace;
}

// Standard error of a server that should stay silent, if it said anything.
void report_stderr(const Workspace& workspace, const std::string& name) {
  const std::string path = workspace.directory + "/" + name + ".stderr";
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (!error && size > 0) {
    std::printf("note: %s wrote %ju bytes to standard error\n", name.c_str(), std::uintmax_t{size});
  }
}

// The whole-process cases and their table; false when one could not be measured.
bool run_whole_process(const Options& options, const Workspace& workspace) {
  if (options.launcher.empty()) {
    std::printf("whole-process cases skipped: no --launcher\n");
    return true;
  }
  const WholeProcessSetup setup{options.server,      options.standin, options.launcher,
                                workspace.directory, options.before,  environment_flag("KORVANE_BENCH_QUICK")};
  const WholeProcessFigures figures = measure_whole_process(setup);
  print_whole_process(stdout, figures);
  return figures.failures.empty();
}

int run(const Options& options) {
  auto scratch = testkit::TempDir::create("korvane-bench");  // removed with everything in it on return
  auto prepared = scratch ? make_workspace(options, scratch.value().path()) : error_text(scratch.error());
  if (!prepared) {
    std::fprintf(stderr, "korvane-bench: cannot prepare a scratch directory: %s\n", prepared.error().c_str());
    return 2;
  }
  const Workspace& workspace = prepared.value();
  const Scale scale = chosen_scale();
  const Scale node_scale = baseline_scale(scale);
  std::printf("machine: %ld cores (nproc), %s\n", ::sysconf(_SC_NPROCESSORS_ONLN), platform::cpu_model().c_str());
  if (environment_flag("KORVANE_BENCH_WHOLE_PROCESS_ONLY")) return run_whole_process(options, workspace) ? 0 : 1;
  std::printf("relay bodies: %zu and %zu bytes; MB = 2^20 bytes; figures are medians over the runs shown\n\n",
              workspace.small_body_bytes, workspace.large_body_bytes);
  std::fflush(stdout);

  std::fprintf(stderr, "measuring the stand-in app alone ...\n");
  const AppFloor floor = measure_app_floor(workspace, scale);
  std::fprintf(stderr, "measuring korvane-mcp ...\n");
  const Figures ours = measure_server({"korvane-mcp", {options.server}}, workspace, scale);
  std::optional<Figures> baseline;
  if (!options.baseline_script.empty()) {
    std::fprintf(stderr, "measuring the baseline ...\n");
    baseline = measure_server({"baseline", {options.node, options.baseline_script}}, workspace, node_scale);
  }

  const Figures* reference = baseline ? &*baseline : nullptr;
  print_table(stdout, ours, reference, scale, node_scale);
  print_app_floor(stdout, floor);
  std::printf("\n");
  print_targets(stdout, ours, reference, workspace);
  for (const std::string& failure : floor.failures) std::printf("%s\n", failure.c_str());
  print_failures(stdout, "korvane-mcp", ours);
  report_stderr(workspace, "korvane-mcp");
  if (baseline) print_failures(stdout, "baseline", *baseline);
  std::printf("\n");
  const bool whole_process_measured = run_whole_process(options, workspace);
  const bool complete = floor.failures.empty() && ours.failures.empty() && (!baseline || baseline->failures.empty()) &&
                        whole_process_measured;
  return complete ? 0 : 1;
}

}  // namespace
}  // namespace korvane::bench

int main(int argc, char** argv) {
  // A server that dies mid-case must show up as a failed write, not end the benchmark.
  ::signal(SIGPIPE, SIG_IGN);
  const auto options = korvane::bench::parse_options(argc, argv);
  if (!options) {
    std::fputs(korvane::bench::kUsage.data(), stderr);
    return 2;
  }
  if (!options->write_replies.empty()) {
    const auto written = korvane::bench::write_shape_replies(options->write_replies, stdout);
    if (!written) std::fprintf(stderr, "korvane-bench: %s\n", written.error().c_str());
    return written ? 0 : 1;
  }
  return korvane::bench::run(*options);
}
