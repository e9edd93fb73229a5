#include "diagnostics/check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/app_channel.h"
#include "bridge/socket_info.h"
#include "bridge/tool_call.h"
#include "common/posix.h"
#include "common/quote.h"
#include "common/stdout_failure.h"
#include "common/utf8.h"
#include "common/version.h"
#include "diagnostics/app_probe.h"
#include "diagnostics/trace.h"
#include "diagnostics/trace_path.h"
#include "diagnostics/trace_record.h"
#include "json/write/writer.h"

namespace korvane {
namespace {

constexpr Milliseconds kConnectLimit{3000};
constexpr Milliseconds kReplyLimit{5000};
constexpr std::size_t kMaxReply = 1024 * 1024;
constexpr std::size_t kBodyExcerpt = 200;

// The report goes out section by section, so that what was found shows even if a later step
// is slow.
class Report {
 public:
  void line(std::string_view text) {
    text_ += text;
    text_ += '\n';
  }
  void ok(std::string_view text) { wrapped("  ok    ", text); }
  void note(std::string_view text) { wrapped("  note  ", text); }
  void fail(std::string_view text, std::string_view next) {
    wrapped("  FAIL  ", text);
    wrapped("        ", "Next: " + std::string(next));
    failed_ = true;
  }
  void detail(std::string_view text) { wrapped("        ", text); }
  void flush() {
    if (auto written = write_all(STDOUT_FILENO, text_); !written) note_stdout_unwritable(written.error());
    text_.clear();
  }
  bool failed() const { return failed_; }

 private:
  // Breaks prose at spaces to keep lines near kWidth columns; continuation lines are indented
  // as the text after the tag.
  void wrapped(std::string_view tag, std::string_view text) {
    std::string current(tag);
    const std::string indent(tag.size(), ' ');
    while (current.size() + text.size() > kWidth) {
      const std::size_t room = kWidth - current.size();
      std::size_t cut = text.rfind(' ', room);
      if (cut == std::string_view::npos || cut == 0) cut = text.find(' ', room);
      if (cut == std::string_view::npos) break;
      line(current + std::string(text.substr(0, cut)));
      text.remove_prefix(cut + 1);
      current = indent;
    }
    line(current + std::string(text));
  }

  static constexpr std::size_t kWidth = 100;
  std::string text_;
  bool failed_ = false;
};

// "exists", "missing", or why it cannot be told, for a location's path.
std::string existence(const std::string& path) {
  struct stat facts {};
  if (::stat(path.c_str(), &facts) == 0) {
    return S_ISREG(facts.st_mode) ? "exists" : std::string("exists, ") + file_type_name(facts.st_mode);
  }
  return errno == ENOENT || errno == ENOTDIR ? "missing" : "cannot tell: " + os_error_text(errno);
}

// A path as it may be shown on a terminal: as it is when it is plain printable text, else
// quoted with escapes (an empty path, control characters, bytes that are not UTF-8).
std::string shown_path(const std::string& path) {
  const bool plain = !path.empty() && is_valid_utf8(path) && std::none_of(path.begin(), path.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f || byte == '"';
  });
  return plain ? path : quoted_text(path);
}

std::string padded(std::string_view text, std::size_t width) {
  std::string out(text);
  if (out.size() < width) out.append(width - out.size(), ' ');
  return out;
}

// Lists every location in order and gives the path of the one used, the first available. A
// file at a location that is not used is pointed out: a classic cause of confusion.
std::string report_locations(Report& report) {
  report.line("Socket-info file");
  report.line("  The server uses the first location below that is available; which files exist does not");
  report.line("  matter, and it never falls back to a later location when the file is missing.");
  std::optional<std::string> used;
  std::vector<std::string> unused_files;
  int number = 0;
  for (const SocketInfoLocation& location : socket_info_locations()) {
    std::string entry = "    " + std::to_string(++number) + ". " + padded(location.source, 30);
    if (!location.path) {
      report.line(entry + std::string(location.unavailable));
      continue;
    }
    const std::string found = existence(*location.path);
    entry += shown_path(*location.path) + "  (" + found + ")";
    if (!used) {
      used = *location.path;
      entry += "  <- used";
    } else if (found.starts_with("exists")) {
      unused_files.push_back(*location.path);
    }
    report.line(entry);
  }
  const std::string chosen = used.value_or(socket_info_path());
  for (const std::string& path : unused_files) {
    report.note(shown_path(path) + " exists but is not used: the server reads " + shown_path(chosen) + ".");
  }
  if (!chosen.starts_with('/')) {
    char directory[4096];
    const char* cwd = ::getcwd(directory, sizeof directory);
    report.note("the path is relative: it is resolved against the current directory, here " +
                (cwd != nullptr ? shown_path(cwd) : std::string("(unknown)")) +
                "; the MCP client may start the server elsewhere.");
  }
  return chosen;
}

std::string refusal_advice(const WholeFile& file, bool explicit_path) {
  switch (file.verdict) {
    case FileVerdict::kOpenFailed:
      if (file.error_number != ENOENT) return "make sure you can read the file and search its directories.";
      return explicit_path ? "start the korvane desktop app, or correct KORVANE_SOCKET_INFO in the server's "
                             "environment (the \"env\" of its entry in your MCP client's configuration)."
                           : "start the korvane desktop app; it writes this file while it runs. If it runs already, "
                             "it writes the file elsewhere: set KORVANE_SOCKET_INFO to that path in the \"env\" of "
                             "the server's entry in your MCP client's configuration.";
    case FileVerdict::kNotRegular: return "point the server at the socket-info file itself, the one the app writes.";
    case FileVerdict::kTooLarge:
      return "a socket-info file is a few dozen bytes, so this is not one: point the server at the file the app "
             "writes.";
    case FileVerdict::kForeignOwner:
      return "another account may have put it there, and the server refuses to send tool calls (typed text included) "
             "where it points. Remove it and let the app write its own, or set KORVANE_SOCKET_INFO to the app's file.";
    case FileVerdict::kWritableByOthers:
      return "any user could rewrite it and redirect tool calls: run chmod o-w on it, and find out who made it so.";
    default: return "check the file and the file system it lies on.";
  }
}

// The file checks and the decoding; the socket info when both pass.
std::optional<SocketInfo> report_file(Report& report, const std::string& path) {
  const SocketInfoProbe probe = probe_socket_info(path);
  const WholeFile& file = probe.file;
  report.line("  file  " + shown_path(path));
  if (file.stat_known) {
    const bool mine = file.owner == ::geteuid();
    report.detail(std::string(file_type_name(file.mode)) + ", " + std::to_string(file.size) + " bytes, owner uid " +
                  std::to_string(file.owner) +
                  (mine              ? " (you)"
                   : file.owner == 0 ? " (root)"
                                     : "") +
                  ", mode " + octal_mode(file.mode));
  }
  if (file.verdict != FileVerdict::kRead) {
    const char* configured = std::getenv("KORVANE_SOCKET_INFO");
    report.fail(probe.problem, refusal_advice(file, configured != nullptr && is_valid_utf8(configured)));
    report.detail("Until then every tool call answers \"" + std::string(kAppNotRunning) + "\".");
    return std::nullopt;
  }
  report.ok("passes the checks: a regular file of at most 64 KiB, owned by you or root, not writable by others");
  if (!probe.info) {
    report.fail("the file " + probe.problem,
                "restart the korvane desktop app so that it writes the file afresh, and check that nothing else "
                "writes to this path.");
    return std::nullopt;
  }
  const SocketInfo& info = probe.info.value();
  report.ok("decodes: port " + std::to_string(info.port) + ", token " +
            (info.token.empty() ? std::string("empty") : "present (" + std::to_string(info.token.size()) + " bytes)"));
  return info;
}

// The reply's status code, or 0 when the status line does not hold one.
int status_code(std::string_view status_line) {
  const std::size_t space = status_line.find(' ');
  if (space == std::string_view::npos || status_line.size() < space + 4) return 0;
  int code = 0;
  for (const char digit : status_line.substr(space + 1, 3)) {
    if (digit < '0' || digit > '9') return 0;
    code = code * 10 + (digit - '0');
  }
  return code;
}

// Reply bytes as they may be shown: the token redacted in the whole text, which is then cut to
// at most `bound` bytes, escaped and quoted for a terminal.
std::string shown(std::string_view bytes, const std::string& token, std::size_t bound = kMaxReply) {
  trace::Redactor redactor;
  redactor.learn(token);
  std::string scratch;
  return quoted_text(redactor.redact(bytes, bound, scratch));
}

void report_reply(Report& report, const AppReply& whole_or_not, const std::string& token) {
  const std::string_view reply = whole_or_not.bytes;
  const std::string_view status = reply_status_line(reply);
  const std::size_t head_end = reply.find("\r\n\r\n");
  const std::string_view body = head_end == std::string_view::npos ? std::string_view() : reply.substr(head_end + 4);
  const auto parsed = parse_app_reply(reply);
  const int code = status_code(status);
  const std::string excerpt = "body (" + std::to_string(body.size()) + (whole_or_not.whole ? "" : " or more") +
                              " bytes" +
                              (body.size() > kBodyExcerpt ? ", first " + std::to_string(kBodyExcerpt) : std::string()) +
                              "): " + shown(body, token, kBodyExcerpt);
  if (code >= 200 && code < 300 && (parsed || !whole_or_not.whole)) {
    report.ok("the app answered sessions_list: " + shown(status, token));
    if (!whole_or_not.whole) {
      report.note("the reply is longer than " + std::to_string(kMaxReply) + " bytes: not checked past " +
                  std::to_string(kMaxReply) + " bytes.");
    }
    report.detail(excerpt);
    return;
  }
  if (code == 401 || code == 403) {
    report.fail("the app refused the token: " + shown(status, token),
                "the file holds a token the app does not accept: it is stale (left from an earlier run) or another "
                "app listens on this port. Restart the korvane desktop app so that it writes the file afresh, and "
                "make sure the server reads the file that app writes.");
  } else if (code < 200 || code >= 300) {
    report.fail("the app answered, but not with success: " + shown(status, token),
                "check that the port belongs to the korvane desktop app; restart the app.");
  } else {
    trace::Redactor redactor;
    redactor.learn(token);
    std::string scratch;
    std::string_view error = redactor.redact(parsed.error(), parsed.error().size(), scratch);
    report.fail("the reply is not one JSON text after its head; tool calls would answer " +
                    quoted_text(error.substr(0, error.find(" -- raw="))),
                "check that the port belongs to the korvane desktop app; restart the app.");
  }
  report.detail(excerpt);
}

// Connects and sends sessions_list exactly as a tool call would, KORVANE_SESSION_ID included.
void report_app(Report& report, const SocketInfo& info) {
  report.line("");
  report.line("Desktop app");
  auto connection = connect_within(info.port, kConnectLimit);
  if (!connection) {
    report.fail("127.0.0.1:" + std::to_string(info.port) + ": connect: " + connection.error(),
                "nothing accepts connections there: the app is not running, or it runs on another port and the "
                "socket-info file is stale. Start (or restart) the korvane desktop app and run --check again.");
    return;
  }
  report.ok("127.0.0.1:" + std::to_string(info.port) + " accepts a connection");
  const auto body = app_request_body("sessions_list", json::Value::object(), caller_session_id());
  const std::string body_bytes = json::to_json(body.value());
  report.detail("request: " + body_bytes + " (the head carries the token, not shown)");
  report.flush();
  auto reply = exchange_within(connection.value(), app_request_head(info.port, info.token, body_bytes.size()),
                               body_bytes, kReplyLimit, kMaxReply);
  if (!reply) {
    report.fail(reply.error(),
                "the app accepted the connection but did not answer in time, or closed it: it may be busy "
                "or hung. Restart the korvane desktop app.");
    return;
  }
  report_reply(report, reply.value(), info.token);
}

void report_session(Report& report) {
  report.line("");
  report.line("Caller session");
  const char* value = std::getenv("KORVANE_SESSION_ID");
  const auto id = caller_session_id();
  const std::string consequence =
      "session_id is sent as null: the app cannot tell which session is the caller's own (the session tools "
      "cannot mark or spare it, and the viewer tools cannot tell whose viewer to use).";
  if (id) {
    report.ok("KORVANE_SESSION_ID is " + quoted_text(*id) +
              ": sent as session_id, so the session tools know the caller's own session.");
    return;
  }
  if (value == nullptr) {
    report.note("KORVANE_SESSION_ID is not set, so " + consequence);
  } else {
    report.note("KORVANE_SESSION_ID is set but " + std::string(is_valid_utf8(value) ? "blank" : "not valid UTF-8") +
                ", so " + consequence);
  }
  report.detail(
      "Inside a korvane terminal session the app sets it, and the client must pass it through from its "
      "own environment: never write a value into the client's configuration, or every session would "
      "claim to be that one. Claude Code: \"KORVANE_SESSION_ID\": \"${KORVANE_SESSION_ID:-}\" in \"env\"; "
      "Gemini CLI: \"$KORVANE_SESSION_ID\"; opencode: \"{env:KORVANE_SESSION_ID}\"; Codex: env_vars = "
      "[\"KORVANE_SESSION_ID\", \"KORVANE_SOCKET_INFO\"]; other clients: docs/clients.md. Outside a "
      "korvane session there is no session id, and null is correct.");
}

// Whether the server would append to the trace file, and why not.
void report_trace(Report& report) {
  const char* configured = std::getenv("KORVANE_MCP_TRACE");
  if (configured == nullptr || *configured == '\0') return;
  const std::string path = configured;
  report.line("");
  report.line("Trace file (KORVANE_MCP_TRACE)");
  const trace::TracePlace place = trace::place_trace_file(path);
  if (!place.problem.empty()) {
    report.note(shown_path(path) + " is not used, so nothing is traced: its folder " + shown_path(place.folder) + " " +
                place.problem + ".");
    report.detail("Name a file in a folder of your own that only you (or root) may write, or a sticky one like /tmp.");
    return;
  }
  struct stat facts {};
  if (::lstat(place.path.c_str(), &facts) != 0) {
    if (errno == ENOENT) {
      report.ok(shown_path(path) + " does not exist yet: the server creates it with mode 0600.");
    } else {
      report.note(shown_path(path) + ": " + os_error_text(errno) + ", so nothing is traced.");
    }
    return;
  }
  if (S_ISLNK(facts.st_mode)) {
    report.note(shown_path(path) +
                " is a symbolic link, which the server does not follow, so nothing is traced. "
                "Name the file itself.");
    return;
  }
  const std::string problem = trace::trace_file_problem(facts, socket_info_path());
  if (problem.empty()) {
    report.ok(shown_path(path) + ": the server appends its records to it.");
    return;
  }
  report.note(shown_path(path) + " is not used, so nothing is traced: " + problem + ".");
  report.detail((facts.st_mode & (S_IRWXG | S_IRWXO)) != 0 && S_ISREG(facts.st_mode)
                    ? "The server does not take the permissions away, as a reader who opened the file already "
                      "would keep reading. Delete the file and let the server create it afresh with mode 0600."
                    : "Name a new file of your own; the server creates it with mode 0600.");
}

}  // namespace

int run_check() {
  Report report;
  report.line("korvane-mcp " + std::string(kServerVersion) + " --check");
  report.line("");
  const std::string path = report_locations(report);
  const std::optional<SocketInfo> info = report_file(report, path);
  report.flush();
  if (info) {
    report_app(report, *info);
  } else {
    report.line("");
    report.line("Desktop app");
    report.line("  not tried: there is no usable socket-info file to tell its port and token.");
  }
  report_session(report);
  report_trace(report);
  report.line("");
  report.line(report.failed() ? "Result: tool calls will fail; see the FAIL line above."
                              : "Result: the app answered; tool calls should work.");
  report.flush();
  return report.failed() ? 1 : 0;
}

}  // namespace korvane
