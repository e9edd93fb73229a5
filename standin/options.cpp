#include "options.h"

#include <array>
#include <charconv>
#include <utility>

namespace korvane::standin {
namespace {

constexpr std::array<std::pair<std::string_view, Mode>, 13> kModeNames{{
    {"normal", Mode::normal},
    {"refuse", Mode::refuse},
    {"close-before-read", Mode::close_before_read},
    {"close-after-read", Mode::close_after_read},
    {"reset", Mode::reset},
    {"slow", Mode::slow},
    {"status500", Mode::status500},
    {"chunked", Mode::chunked},
    {"non-json", Mode::non_json},
    {"no-blank-line", Mode::no_blank_line},
    {"two-values", Mode::two_values},
    {"body-file", Mode::body_file},
    {"hang", Mode::hang},
}};

std::optional<long> parse_number(std::string_view text, long low, long high) {
  long number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc{} || end != text.data() + text.size() || number < low || number > high) {
    return std::nullopt;
  }
  return number;
}

// Stores one option value; the error text names the option.
Outcome<void> apply_value(Options& options, std::string_view name, std::string_view value) {
  if (name == "--socket-info") {
    options.socket_info_path = std::string(value);
  } else if (name == "--token") {
    options.token = std::string(value);
  } else if (name == "--record") {
    options.record_path = std::string(value);
  } else if (name == "--body-file") {
    options.body_file = std::string(value);
  } else if (name == "--replies") {
    options.replies_file = std::string(value);
  } else if (name == "--port") {
    const auto port = parse_number(value, 0, 65535);
    if (!port) return error_text("invalid --port: " + std::string(value));
    options.port = static_cast<std::uint16_t>(*port);
  } else if (name == "--delay-ms") {
    const auto delay = parse_number(value, 0, 60000);
    if (!delay) return error_text("invalid --delay-ms: " + std::string(value));
    options.delay_ms = static_cast<int>(*delay);
  } else if (name == "--mode") {
    const auto mode = mode_from_name(value);
    if (!mode) return error_text("unknown --mode: " + std::string(value));
    options.mode = *mode;
  } else {
    return error_text("unknown option: " + std::string(name));
  }
  return ok_outcome();
}

bool is_flag(std::string_view name) { return name == "--exit-on-stdin-eof" || name == "--help" || name == "-h"; }

}  // namespace

std::optional<Mode> mode_from_name(std::string_view name) {
  for (const auto& [text, mode] : kModeNames) {
    if (text == name) return mode;
  }
  return std::nullopt;
}

Outcome<Options> parse_options(const std::vector<std::string_view>& arguments) {
  Options options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string_view name = arguments[i];
    if (is_flag(name)) {
      if (name == "--exit-on-stdin-eof")
        options.exit_on_stdin_eof = true;
      else
        options.help = true;
      continue;
    }
    std::string_view value;
    if (const auto equals = name.find('='); name.starts_with("--") && equals != std::string_view::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
    } else if (i + 1 < arguments.size()) {
      value = arguments[++i];
    } else {
      return error_text("missing value for " + std::string(name));
    }
    if (auto applied = apply_value(options, name, value); !applied) return error_text(std::move(applied).take_error());
  }
  if (options.mode == Mode::body_file && !options.body_file) return error_text("--mode body-file needs --body-file");
  if (options.mode != Mode::body_file && options.body_file) return error_text("--body-file needs --mode body-file");
  return options;
}

std::string_view usage_text() {
  return "usage: korvane-standin-app [--socket-info PATH] [--port N] [--token T] [--record FILE]\n"
         "                           [--mode MODE] [--delay-ms N] [--body-file F] [--replies FILE]\n"
         "                           [--exit-on-stdin-eof]\n"
         "modes: normal refuse close-before-read close-after-read reset slow status500 chunked\n"
         "       non-json no-blank-line two-values body-file hang\n";
}

}  // namespace korvane::standin
