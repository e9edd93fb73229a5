// Command-line options of the stand-in desktop app.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/outcome.h"

namespace korvane::standin {

// How the stand-in answers a request (everything but `normal` misbehaves on purpose).
enum class Mode {
  normal,
  refuse,
  close_before_read,
  close_after_read,
  reset,
  slow,
  status500,
  chunked,
  non_json,
  no_blank_line,
  two_values,
  body_file,
  hang,
};

struct Options {
  std::optional<std::string> socket_info_path;
  std::uint16_t port = 0;
  std::optional<std::string> token;
  std::optional<std::string> record_path;
  Mode mode = Mode::normal;
  int delay_ms = 2;
  std::optional<std::string> body_file;
  std::optional<std::string> replies_file;
  bool exit_on_stdin_eof = false;
  bool help = false;
};

// Parses the arguments after the program name; the error names the offending option.
Outcome<Options> parse_options(const std::vector<std::string_view>& arguments);

// The mode for a --mode value such as "close-after-read".
std::optional<Mode> mode_from_name(std::string_view name);

// The text printed for --help.
std::string_view usage_text();

}  // namespace korvane::standin
