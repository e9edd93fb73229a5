// The opt-in trace: with KORVANE_MCP_TRACE=/path/file the server appends one JSON record per
// line to that file for every line received, every response written and every tool call's
// exchange with the app. The token never appears in it (every known form of it is replaced by
// "<redacted>" before any text is cut). main installs the trace as the observer of the response
// writer and of tool calls; without the variable nothing is installed.
//
// Tracing never changes what goes to stdout or stderr, the exit status, or the descriptors a
// tool call may use, and never ends the process: a record that cannot be built is left out,
// and a file that cannot be used or written turns tracing off. The file is created with mode
// 0600 and opened append-only, close-on-exec and without following a symbolic link at the
// last component, in its folder's real path, each folder on which place_trace_file found fit.
// An existing file is used only when trace_file_problem finds nothing against it; its
// permissions are never changed. Records are gathered and appended with one write per
// batch of answers, each write holding whole records only.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/unique_fd.h"
#include "bridge/tool_call.h"
#include "diagnostics/trace_record.h"
#include "protocol/response.h"

namespace korvane::trace {

// Why the file with these facts may not take the trace, or "" when it may: it must be a
// regular file of the effective user's, writable by its owner, with one link and no permission
// for group or others
// (a reader who opened it before would go on reading), and none of the standard streams or
// the socket-info file at `socket_info`.
std::string trace_file_problem(const struct stat& facts, const std::string& socket_info);

class Trace final : public ResponseObserver, public ToolCallObserver {
 public:
  // Reads KORVANE_MCP_TRACE, learns the token of the socket-info file and opens the trace file;
  // off when the variable is unset or empty or the file may not be used.
  Trace();
  Trace(const Trace&) = delete;
  Trace& operator=(const Trace&) = delete;

  bool on() const { return file_.valid(); }

  // A line read from stdin, without its line break.
  void line_received(std::string_view line);
  // Appends the records gathered so far in one write.
  void write_pending();
  // Standard output cannot be written (the server then ends): the lines queued are not
  // recorded as sent; this is, and everything gathered is written.
  void stdout_failed(std::string_view reason);
  void input_ended();

  std::size_t line_start_bytes() const override;
  void line_written(std::string_view start, std::size_t size) override;
  void lines_written() override;

  void call_starting() override;
  void call_finished(const ToolCallFacts& facts) override;

 private:
  bool open_file();
  bool reopen_file();
  void turn_off();
  std::string_view timestamp();
  template <typename Fill>
  void add(std::string& records, std::string_view event, const Fill& fill) noexcept;

  std::string path_;
  std::string socket_info_;
  UniqueFd file_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  long pid_ = 0;
  Redactor redactor_;
  std::string pending_;  // whole records not yet written
  std::string sent_;     // records of lines queued, until they are written
  std::int64_t time_second_ = -1;
  std::string time_text_;
};

}  // namespace korvane::trace
