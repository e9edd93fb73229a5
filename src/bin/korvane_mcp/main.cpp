// korvane-mcp: answers MCP requests on stdin, one JSON text per line, and relays tool calls
// to the korvane desktop app.
#include <signal.h>
#include <unistd.h>

#include "line_reader.h"
#include "protocol/dispatch.h"
#include "protocol/response.h"

int main() {
  // A closed stdout must surface as a failed write, not as a signal.
  ::signal(SIGPIPE, SIG_IGN);
  korvane::LineReader reader(STDIN_FILENO);
  std::string_view line;
  while (reader.next_line(line)) {
    if (line.empty()) continue;
    if (auto reply = korvane::handle_line(line)) {
      korvane::write_response(std::move(reply->id), std::move(reply->outcome));
    }
  }
  return 0;
}
