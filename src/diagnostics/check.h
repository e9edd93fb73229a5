// korvane-mcp --check: a health check to run by hand. It follows the path of one tool call
// (socket-info file, connection, one harmless sessions_list request with the token) and
// writes a short report to stdout, saying for each failure what to do next. It never reads
// stdin, never prints the token, and every network wait has a time limit.
#pragma once

namespace korvane {

// Writes the report; 0 when the app answered sessions_list, 1 otherwise. A report that cannot be
// written is noted as standard output gone (common/stdout_failure.h), for the caller to act on.
int run_check();

}  // namespace korvane
