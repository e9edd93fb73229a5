// The measured cases, run against one server command at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "stats.h"

namespace korvane::bench {

struct ServerCommand {
  std::string name;
  std::vector<std::string> argv;
};

// Repetitions and sizes of one server's measurements.
struct Scale {
  int cold_runs = 200;
  int idle_runs = 5;
  int pipeline_runs = 5;
  std::uint64_t initialize_lines = 200'000;
  std::uint64_t tools_list_lines = 20'000;
  std::uint64_t large_lines = 1'000;
  int relay_small_runs = 30;
  int relay_large_runs = 10;
};

// Paths shared by all cases: a scratch directory, the stand-in app and its reply bodies.
struct Workspace {
  std::string directory;
  std::string missing_socket_info;  // a path where no file exists: the app is not running
  std::string standin_binary;
  std::string small_body_path;
  std::string large_body_path;
  std::size_t small_body_bytes = 0;
  std::size_t large_body_bytes = 0;
};

struct PipelineFigures {
  Samples requests_per_s;
  Samples mib_per_s;
  Samples peak_rss_kib;
};

struct RelayFigures {
  Samples milliseconds;
  Samples ns_per_byte;
  Samples peak_rss_kib;
};

struct Figures {
  Samples cold_start_ms;
  Samples idle_rss_kib;
  PipelineFigures initialize;
  PipelineFigures tools_list;
  PipelineFigures large_calls;
  RelayFigures relay_small;
  RelayFigures relay_large;
  std::vector<std::string> failures;  // one text per case that could not be measured
  std::vector<std::string> notes;     // worth knowing, but the figures stand
};

// The stand-in app's own time to serve each reply body, fetched directly over HTTP: the floor under
// the relay figures, which shows that the app is not what they measure.
struct AppFloor {
  Samples small_ms;
  Samples large_ms;
  std::vector<std::string> failures;
};

AppFloor measure_app_floor(const Workspace& workspace, const Scale& scale);

// Runs every case against `server`; failures are recorded, not fatal.
Figures measure_server(const ServerCommand& server, const Workspace& workspace, const Scale& scale);

}  // namespace korvane::bench
