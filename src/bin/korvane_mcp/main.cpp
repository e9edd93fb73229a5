// korvane-mcp: answers MCP requests on stdin, one JSON text per line, and relays tool calls
// to the korvane desktop app.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>
#include <string_view>

#include "bridge/tool_call.h"
#include "command_line.h"
#include "common/line_reader.h"
#include "common/memory_reserve.h"
#include "common/posix.h"
#include "common/stdout_failure.h"
#include "diagnostics/trace.h"
#include "methods/method_table.h"
#include "platform/memory.h"
#include "protocol/dispatch.h"
#include "protocol/response.h"

namespace {

// Answers queued while more lines are buffered go out together, up to this many bytes.
constexpr std::size_t kBatchBytes = 256 * 1024;

// The answer to a line that could not be held, or whose request could not: id null, as for a
// line that is no request. Without memory even for that, the line goes unanswered.
void answer_out_of_memory(korvane::ResponseWriter& out) noexcept {
  try {
    out.add(nullptr, korvane::error_text("read: " + korvane::os_error_text(ENOMEM)));
  } catch (const std::bad_alloc&) {
  }
}

// Queues the answer due for one line. Running out of memory while reading its request is
// answered instead of ending the process (the bridge and the response writer answer for
// their part), once what the request held is given back.
void answer(std::string_view line, korvane::ResponseWriter& out) {
  bool short_of_memory = false;
  try {
    korvane::handle_line(line, korvane::answer_method, out);
  } catch (const std::bad_alloc&) {
    short_of_memory = true;
  }
  if (short_of_memory) answer_out_of_memory(out);
}

// Nobody can read the answers any more: the trace says so, and the process ends with a line on
// stderr and status 1.
[[noreturn]] void end_on_stdout_failure(const std::string& reason, korvane::trace::Trace& trace) {
  trace.stdout_failed(reason);
  korvane::exit_stdout_unwritable(reason);
}

}  // namespace

int main(int argc, char** argv) {
  // A closed stdout must surface as a failed write, not as a signal; so must a write past the
  // file size limit, whether it goes to stdout or to the trace.
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
  if (const auto status = korvane::run_command_line(argc, argv)) return *status;
  korvane::platform::tune_allocator();
  korvane::trace::Trace trace;
  korvane::LineReader reader(STDIN_FILENO);
  korvane::ResponseWriter out(STDOUT_FILENO);
  if (trace.on()) {
    out.watch(&trace);
    korvane::watch_tool_calls(&trace);
  }
  for (;;) {
    korvane::keep_memory_reserve();
    const korvane::NextLine next = reader.next_line();
    if (next.kind == korvane::NextLine::Kind::ended) break;
    if (next.kind == korvane::NextLine::Kind::too_long) {
      answer_out_of_memory(out);
    } else {
      if (trace.on()) trace.line_received(next.text);
      if (!next.text.empty()) answer(next.text, out);
    }
    // Answers are written before the loop waits for input (and before a tool call waits for
    // the app), so a client that waits for one always gets it; lines already buffered are
    // answered together, in batches of bounded size.
    if (!reader.next_line_ready() || out.queued_bytes() >= kBatchBytes) {
      (void)out.flush();  // a failure is noted, and met below
      trace.write_pending();
    }
    if (const auto& failure = korvane::stdout_unwritable()) end_on_stdout_failure(*failure, trace);
  }
  if (auto flushed = out.flush(); !flushed) end_on_stdout_failure(flushed.error(), trace);
  trace.input_ended();
  return 0;
}
