#include "cases.h"

#include <chrono>
#include <cstdio>
#include <string_view>
#include <utility>

#include "pipe_io.h"
#include "process.h"
#include "standin_app.h"
#include "workloads.h"

namespace korvane::bench {
namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// One server under test, with the file that collects its standard error.
struct Subject {
  const ServerCommand& server;
  const Workspace& workspace;
  std::string stderr_path;
};

// The pipelined input of one case and what its first answer must contain.
struct PipelineLoad {
  std::string name;
  Input input;
  std::uint64_t lines = 0;
  std::string_view expected;
};

std::string excerpt(std::string_view text) {
  constexpr std::size_t kShown = 200;
  return std::string(text.substr(0, kShown)) + (text.size() > kShown ? "..." : "");
}

Outcome<void> expect_answer(std::string_view line, std::string_view needle) {
  if (line.find(needle) != std::string_view::npos) return ok_outcome();
  return error_text("unexpected answer: " + excerpt(line));
}

Outcome<void> expect_clean_exit(Child& child) {
  auto status = child.finish();
  if (!status) return error_text(status.error());
  if (status.value() != 0) return error_text("exit status " + std::to_string(status.value()));
  return ok_outcome();
}

// Sends one line and returns the answer line.
Outcome<std::string_view> ask(Child& child, LineReceiver& receiver, std::string_view line) {
  if (auto wrote = write_all(child.input(), line); !wrote) return error_text(wrote.error());
  return receiver.next_line();
}

// Spawn, initialize, answer read, stdin closed, exit reaped: milliseconds.
Outcome<double> cold_start_once(const Subject& subject, const Environment& environment, const std::string& request) {
  const auto start = Clock::now();
  auto spawned = spawn_child(subject.server.argv, environment, subject.stderr_path);
  if (!spawned) return error_text(spawned.error());
  Child child = std::move(spawned).value();
  LineReceiver receiver(child.output());
  auto answer = ask(child, receiver, request);
  if (!answer) return error_text(answer.error());
  if (auto exited = expect_clean_exit(child); !exited) return error_text(exited.error());
  const double elapsed_ms = seconds_since(start) * 1e3;
  if (auto checked = expect_answer(answer.value(), "\"protocolVersion\""); !checked) return error_text(checked.error());
  return elapsed_ms;
}

// Peak resident memory after one initialize exchange.
Outcome<double> idle_rss_once(const Subject& subject, const Environment& environment) {
  auto spawned = spawn_child(subject.server.argv, environment, subject.stderr_path);
  if (!spawned) return error_text(spawned.error());
  Child child = std::move(spawned).value();
  LineReceiver receiver(child.output());
  auto answer = ask(child, receiver, initialize_line(1));
  if (!answer) return error_text(answer.error());
  if (auto checked = expect_answer(answer.value(), "\"protocolVersion\""); !checked) return error_text(checked.error());
  if (auto exited = expect_clean_exit(child); !exited) return error_text(exited.error());
  return child.peak_rss_kib();
}

// The time a server gets to exit once its input ends after a long pipeline: the answers are all
// in by then, so a server still busy with its own bookkeeping is noted and killed.
constexpr std::chrono::milliseconds kExitLimit{5000};

Outcome<void> pipeline_once(const Subject& subject, const Environment& environment, const PipelineLoad& load,
                            PipelineFigures& figures, std::vector<std::string>& slow_exits) {
  auto spawned = spawn_child(subject.server.argv, environment, subject.stderr_path);
  if (!spawned) return error_text(spawned.error());
  Child child = std::move(spawned).value();
  const auto start = Clock::now();
  auto drained = exchange(child.input(), child.output(), load.input, load.lines);
  const double elapsed = seconds_since(start);
  if (!drained) return error_text(drained.error());
  if (auto checked = expect_answer(drained.value().first_line, load.expected); !checked) return checked;
  figures.requests_per_s.add(static_cast<double>(load.lines) / elapsed);
  figures.mib_per_s.add(static_cast<double>(load.input.size()) / static_cast<double>(kMiB) / elapsed);
  auto exited = child.finish_within(kExitLimit);
  if (!exited) return error_text(exited.error());
  auto rss = child.peak_rss_kib();
  if (!rss) return error_text(rss.error());
  figures.peak_rss_kib.add(rss.value());
  if (!exited.value()) {
    slow_exits.push_back(load.name + ": still running " + std::to_string(kExitLimit.count() / 1000) +
                         " s after the end of its input, killed (after its last answer)");
  } else if (*exited.value() != 0) {
    return error_text("exit status " + std::to_string(*exited.value()));
  }
  return ok_outcome();
}

Outcome<void> relay_runs(const Subject& subject, const Environment& environment, std::size_t body_bytes, int runs,
                         RelayFigures& figures) {
  auto spawned = spawn_child(subject.server.argv, environment, subject.stderr_path);
  if (!spawned) return error_text(spawned.error());
  Child server = std::move(spawned).value();
  LineReceiver receiver(server.output());
  auto initialized = ask(server, receiver, initialize_line(1));
  if (!initialized) return error_text(initialized.error());
  for (int run = 0; run < runs; ++run) {
    const std::string request = screen_ocr_line(static_cast<std::uint64_t>(run) + 2);
    const auto start = Clock::now();
    auto answer = ask(server, receiver, request);
    const double elapsed = seconds_since(start);
    if (!answer) return error_text(answer.error());
    if (auto checked = expect_answer(answer.value().substr(0, 64), "\"result\""); !checked) return checked;
    if (answer.value().size() < body_bytes) return error_text("short answer: " + excerpt(answer.value()));
    figures.milliseconds.add(elapsed * 1e3);
    figures.ns_per_byte.add(elapsed * 1e9 / static_cast<double>(body_bytes));
  }
  auto exited = expect_clean_exit(server);
  if (!exited) return exited;
  auto rss = server.peak_rss_kib();
  if (!rss) return error_text(rss.error());
  figures.peak_rss_kib.add(rss.value());
  return ok_outcome();
}

Outcome<void> measure_relay(const Subject& subject, const std::string& body_path, std::size_t body_bytes, int runs,
                            RelayFigures& figures) {
  const std::string socket_info = subject.workspace.directory + "/socket-info.json";
  auto started = start_app(subject.workspace.standin_binary, socket_info, body_path,
                           subject.workspace.directory + "/standin.stderr");
  if (!started) return error_text(started.error());
  Child app = std::move(started).value();
  auto measured = relay_runs(subject, Environment(socket_info), body_bytes, runs, figures);
  if (auto stopped = expect_clean_exit(app); !stopped && measured) {
    return error_text("stand-in app: " + stopped.error());
  }
  return measured;
}

// Runs one case `runs` times, stopping at its first failure; tells how long it took on stderr.
template <typename Run>
void repeat(const char* name, int runs, std::vector<std::string>& failures, Run run) {
  const auto start = Clock::now();
  for (int i = 0; i < runs; ++i) {
    if (auto done = run(); !done) {
      failures.push_back(std::string(name) + ": " + done.error());
      break;
    }
  }
  std::fprintf(stderr, "  %-16s %.1f s\n", name, seconds_since(start));
}

void record(const char* name, const Outcome<void>& done, std::vector<std::string>& failures) {
  if (!done) failures.push_back(std::string(name) + ": " + done.error());
}

}  // namespace

Figures measure_server(const ServerCommand& server, const Workspace& workspace, const Scale& scale) {
  Figures figures;
  const Subject subject{server, workspace, workspace.directory + "/" + server.name + ".stderr"};
  const Environment no_app(workspace.missing_socket_info);

  const std::string initialize = initialize_line(1);
  repeat("cold start", scale.cold_runs, figures.failures, [&]() -> Outcome<void> {
    auto ms = cold_start_once(subject, no_app, initialize);
    if (!ms) return error_text(ms.error());
    figures.cold_start_ms.add(ms.value());
    return ok_outcome();
  });
  repeat("idle", scale.idle_runs, figures.failures, [&]() -> Outcome<void> {
    auto rss = idle_rss_once(subject, no_app);
    if (!rss) return error_text(rss.error());
    figures.idle_rss_kib.add(rss.value());
    return ok_outcome();
  });

  std::string initialize_lines;
  for (std::uint64_t id = 1; id <= scale.initialize_lines; ++id) initialize_lines += initialize_line(id);
  PipelineLoad initialize_load{"initialize", {}, scale.initialize_lines, "\"protocolVersion\""};
  initialize_load.input.add(initialize_lines);
  repeat("initialize", scale.pipeline_runs, figures.failures,
         [&] { return pipeline_once(subject, no_app, initialize_load, figures.initialize, figures.notes); });
  initialize_lines = std::string();

  std::string tools_list_lines;
  for (std::uint64_t id = 1; id <= scale.tools_list_lines; ++id) tools_list_lines += tools_list_line(id);
  PipelineLoad tools_list_load{"tools/list", {}, scale.tools_list_lines, "\"inputSchema\""};
  tools_list_load.input.add(tools_list_lines);
  repeat("tools/list", scale.pipeline_runs, figures.failures,
         [&] { return pipeline_once(subject, no_app, tools_list_load, figures.tools_list, figures.notes); });

  const std::string text = large_call_text(kMiB - 128);
  std::vector<std::string> heads;
  for (std::uint64_t id = 1; id <= scale.large_lines; ++id) heads.push_back(large_call_head(id));
  PipelineLoad large_load{"1 MB tools/call", {}, scale.large_lines, "korvane GUI is not running"};
  for (const std::string& head : heads) {
    large_load.input.add(head);
    large_load.input.add(text);
    large_load.input.add(kLargeCallTail);
  }
  repeat("1 MB tools/call", scale.pipeline_runs, figures.failures,
         [&] { return pipeline_once(subject, no_app, large_load, figures.large_calls, figures.notes); });

  repeat("relay 1 MB", 1, figures.failures, [&] {
    return measure_relay(subject, workspace.small_body_path, workspace.small_body_bytes, scale.relay_small_runs,
                         figures.relay_small);
  });
  repeat("relay 20 MB", 1, figures.failures, [&] {
    return measure_relay(subject, workspace.large_body_path, workspace.large_body_bytes, scale.relay_large_runs,
                         figures.relay_large);
  });
  return figures;
}

AppFloor measure_app_floor(const Workspace& workspace, const Scale& scale) {
  AppFloor floor;
  const std::string socket_info = workspace.directory + "/socket-info.json";
  const auto fetch = [&](const char* name, const std::string& body_path, std::size_t body_bytes, int runs,
                         Samples& milliseconds) {
    auto started = start_app(workspace.standin_binary, socket_info, body_path, workspace.directory + "/standin.stderr");
    if (!started) return floor.failures.push_back(std::string(name) + ": " + started.error());
    Child app = std::move(started).value();
    auto fetched = fetch_directly(socket_info, body_bytes, runs);
    if (!fetched) return floor.failures.push_back(std::string(name) + ": " + fetched.error());
    milliseconds = fetched.value();
    record(name, expect_clean_exit(app), floor.failures);
  };
  fetch("stand-in app alone, 1 MB", workspace.small_body_path, workspace.small_body_bytes, scale.relay_small_runs,
        floor.small_ms);
  fetch("stand-in app alone, 20 MB", workspace.large_body_path, workspace.large_body_bytes, scale.relay_large_runs,
        floor.large_ms);
  return floor;
}

}  // namespace korvane::bench
