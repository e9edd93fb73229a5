// korvane-mcp: answers MCP requests on stdin, one JSON text per line, and relays tool calls
// to the korvane desktop app.
#include <signal.h>
#include <unistd.h>

#include <new>
#include <optional>
#include <string_view>

#include "command_line.h"
#include "diagnostics/trace.h"
#include "common/line_reader.h"
#include "common/posix.h"
#include "platform/memory.h"
#include "protocol/dispatch.h"
#include "protocol/response.h"

namespace {

// The answer to a line that could not be held, or whose request could not: id null, as for a
// line that is no request.
korvane::Reply out_of_memory_reply(const std::string& reason) {
  return korvane::Reply{nullptr, korvane::error_text("read: " + reason)};
}

// The reply due for one line. Running out of memory while reading its request is answered
// instead of ending the process (the bridge and the response writer answer for their part).
std::optional<korvane::Reply> reply_to(std::string_view line) {
  try {
    return korvane::handle_line(line);
  } catch (const std::bad_alloc&) {
    return out_of_memory_reply(korvane::os_error_text(ENOMEM));
  }
}

}  // namespace

int main(int argc, char** argv) {
  // A closed stdout must surface as a failed write, not as a signal.
  ::signal(SIGPIPE, SIG_IGN);
  if (const auto status = korvane::run_command_line(argc, argv)) return *status;
  korvane::platform::tune_allocator();
  korvane::trace::start();
  korvane::LineReader reader(STDIN_FILENO);
  for (;;) {
    auto next = reader.next_line();
    std::optional<korvane::Reply> reply;
    if (!next) {
      reply = out_of_memory_reply(next.error());  // the line was too long to hold
    } else if (!next.value()) {
      break;
    } else {
      korvane::trace::line_received(*next.value());
      if (!next.value()->empty()) reply = reply_to(*next.value());
    }
    if (reply) korvane::write_response(std::move(reply->id), std::move(reply->outcome));
  }
  korvane::trace::input_ended();
  return 0;
}
