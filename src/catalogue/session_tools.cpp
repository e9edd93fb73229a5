// Tools that list, read, drive, wait for, start and close other sessions, open viewers and notify.
#include "catalogue/tool_table.h"

namespace korvane::catalogue {
namespace {

constexpr std::string_view kSessionIdText = "Session id from sessions_list";

constexpr ArgSpec kSessionIdArgs[] = {
    {.name = "id", .type = kString, .description = kSessionIdText, .required = true},
};

constexpr ArgSpec kSessionSendArgs[] = {
    {.name = "id", .type = kString, .description = kSessionIdText, .required = true},
    {.name = "text", .type = kString, .description = "Text to type into the session", .required = true},
    {.name = "submit",
     .type = kBoolean,
     .description = "Press Enter after typing (default true). Set false to only type, e.g. to fill an "
                    "answer without sending."},
};

constexpr ArgSpec kSessionWaitArgs[] = {
    {.name = "id", .type = kString, .description = kSessionIdText, .required = true},
    {.name = "timeout_secs", .type = kInteger, .description = "Max seconds to wait (default 120, max 600)"},
};

constexpr std::string_view kAgents[] = {"claude", "codex"};

constexpr ArgSpec kSessionSpawnArgs[] = {
    {.name = "cwd",
     .type = kString,
     .description = "Absolute path of the directory to open. Optional: if omitted, the child inherits YOUR "
                    "OWN working directory (the same department/repo you are in). Only pass a path when you "
                    "want the child to run somewhere else — a different repo or a subdirectory."},
    {.name = "agent",
     .type = kString,
     .description = "Which CLI to run (default: the user's configured default)",
     .choices = kAgents},
    {.name = "label", .type = kString, .description = "Optional label shown in the UI"},
    {.name = "codex_full_access",
     .type = kBoolean,
     .description = "For Codex only: launch without approval prompts or sandbox. Use only when the user "
                    "explicitly requests full access."},
};

constexpr ArgSpec kOpenMarkdownArgs[] = {
    {.name = "path", .type = kString, .description = "Absolute path to the .md file", .required = true},
};

constexpr std::string_view kLayouts[] = {"floating", "split-right", "split-bottom", "drawer"};

constexpr ArgSpec kOpenDevPreviewArgs[] = {
    {.name = "url", .type = kString, .description = "URL to load (http:// or https://)", .required = true},
    {.name = "layout", .type = kString, .description = "Preferred layout; defaults to floating", .choices = kLayouts},
};

constexpr ArgSpec kNotifyArgs[] = {
    {.name = "title", .type = kString, .required = true},
    {.name = "body", .type = kString, .required = true},
};

constexpr ToolSpec kTools[] = {
    {.name = "sessions_list",
     .description = "List the other agent sessions open in korvane (id, label, cwd, agent, status). Use this "
                    "when acting as a parent/orchestrator session that supervises the other terminals. "
                    "`isSelf: true` marks your own session — never drive that one."},
    {.name = "session_read",
     .description = "Read another session's terminal screen as plain text. Reliable for Claude sessions. "
                    "KNOWN LIMITATION: for Codex sessions the screen can be stale (it may show an earlier "
                    "part of the conversation), so do NOT rely on it to collect a Codex agent's answer — "
                    "have that agent write its result to a file instead, and use session_wait to know when "
                    "it is done.",
     .args = kSessionIdArgs},
    {.name = "session_send",
     .description = "Type an instruction into another session and submit it, as if the user typed it. Use "
                    "this to delegate work to that agent, answer its question, or approve a prompt. You "
                    "cannot send to your own session.",
     .args = kSessionSendArgs},
    {.name = "session_kill",
     .description = "Close another session (a child agent you spawned) when its work is done. Cannot kill "
                    "your own session.",
     .args = kSessionIdArgs},
    {.name = "session_wait",
     .description = "Block until another session stops working and settles (back to waiting for input, "
                    "waiting for approval, or exited). The result includes inputOrigin (human/agent/system) "
                    "and approvalTool. If a child you instructed returns awaiting-approval with "
                    "inputOrigin=agent, do not leave it unnoticed: inspect it, then either do the privileged "
                    "step in the parent, deny it with guidance, or report the blocker to the user. "
                    "Human-origin approvals should remain in that child for the user to decide locally.",
     .args = kSessionWaitArgs},
    {.name = "session_spawn",
     .description = "Open a new agent session in korvane. The agent can be 'claude' or 'codex' regardless of "
                    "which agent you are — mixing them is supported. Returns after requesting the launch; "
                    "find the new session's id with sessions_list.",
     .args = kSessionSpawnArgs},
    {.name = "open_markdown",
     .description = "Open a Markdown file inside the korvane session's floating viewer. Use this when the "
                    "user wants to read or preview a Markdown file inside korvane instead of an external "
                    "editor.",
     .args = kOpenMarkdownArgs},
    {.name = "open_dev_preview",
     .description = "Open a web URL inside the korvane session's embedded dev-preview WebView. Use this for "
                    "previewing the user's own web app (e.g., a local dev server at http://localhost:3000) "
                    "so the user can see it without leaving korvane.",
     .args = kOpenDevPreviewArgs},
    {.name = "notify",
     .description = "Send a desktop notification through korvane (uses macOS native notification).",
     .args = kNotifyArgs},
};

}  // namespace

std::span<const ToolSpec> session_and_viewer_tools() { return kTools; }

}  // namespace korvane::catalogue
