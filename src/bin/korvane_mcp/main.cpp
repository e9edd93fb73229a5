// korvane-mcp: answers MCP requests on stdin, one JSON text per line, and relays tool calls
// to the korvane desktop app.
#include <signal.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "command_line.h"
#include "line_reader.h"
#include "protocol/dispatch.h"
#include "protocol/response.h"

int main(int argc, char** argv) {
  if (const auto status = korvane::run_command_line(argc, argv)) return *status;
  // A closed stdout must surface as a failed write, not as a signal.
  ::signal(SIGPIPE, SIG_IGN);
#if defined(__GLIBC__)
  // Large buffers (long lines, big replies) get pages of their own: they go back to the system
  // when freed, and grow by remapping instead of copying.
  ::mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
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
