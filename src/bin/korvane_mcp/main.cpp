// korvane-mcp: answers MCP requests on stdin, one JSON text per line, and relays tool calls
// to the korvane desktop app.
#include <signal.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "line_reader.h"
#include "protocol/dispatch.h"
#include "protocol/response.h"

namespace {

constexpr std::size_t kBatchBytes = 256 * 1024;

}  // namespace

int main() {
  // A closed stdout must surface as a failed write, not as a signal.
  ::signal(SIGPIPE, SIG_IGN);
#if defined(__GLIBC__)
  // Large buffers (long lines, big replies) get pages of their own: they go back to the system
  // when freed, and grow by remapping instead of copying.
  ::mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
  korvane::LineReader reader(STDIN_FILENO);
  korvane::ResponseWriter out(STDOUT_FILENO);
  std::string_view line;
  while (reader.next_line(line)) {
    if (!line.empty()) korvane::handle_line(line, out);
    // Answers are written before the loop waits for input (and before a tool call waits for
    // the app), so a client that waits for one always gets it; lines already buffered are
    // answered together, in batches of bounded size.
    if (!reader.next_line_ready() || out.queued_bytes() >= kBatchBytes) out.flush();
  }
  out.flush();
  return 0;
}
