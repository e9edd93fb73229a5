// The session methods of the pretend desktop.
#include <algorithm>

#include "desktop_model.h"
#include "params.h"

namespace korvane::standin {
namespace {

constexpr std::int64_t kDefaultWaitSecs = 120;
constexpr std::int64_t kMaxWaitSecs = 600;
constexpr std::string_view kBusy = "busy";

// The calling agent's own session id, as the server adds it to every session call.
std::optional<std::string> caller(const json::Value& params) { return string_member(params, "session_id"); }

// A session labelled "busy", or the id "busy", keeps working until a wait gives up.
bool is_busy(const std::string& id, const Session* session) {
  return id == kBusy || (session && session->label == kBusy);
}

std::string status_of(const Session& session) {
  return is_busy(session.id, &session) ? "working" : "waiting-for-input";
}

json::Value no_such_session(const std::string& id) { return app_error("no such session: " + id); }

}  // namespace

Session* DesktopModel::find_session(const std::string& id) {
  const auto found = std::find_if(sessions_.begin(), sessions_.end(), [&](const Session& s) { return s.id == id; });
  return found == sessions_.end() ? nullptr : &*found;
}

const Session* DesktopModel::find_session(const std::string& id) const {
  return const_cast<DesktopModel*>(this)->find_session(id);
}

json::Value DesktopModel::sessions_list(const json::Value& params) const {
  const auto self = caller(params);
  json::Value list = json::Value::array();
  for (const Session& session : sessions_) {
    list.push_back({{"id", session.id},
                    {"label", session.label},
                    {"cwd", session.cwd},
                    {"agent", session.agent},
                    {"status", status_of(session)},
                    {"isSelf", self == session.id}});
  }
  return {{"sessions", std::move(list)}};
}

json::Value DesktopModel::session_read(const json::Value& params) const {
  const auto id = string_member(params, "id");
  if (!id) return app_error("missing id");
  const Session* session = find_session(*id);
  if (!session) return no_such_session(*id);
  return {{"id", *id}, {"text", session->screen}};
}

json::Value DesktopModel::session_send(const json::Value& params) {
  const auto id = string_member(params, "id");
  if (!id) return app_error("missing id");
  const auto text = string_member(params, "text");
  if (!text) return app_error("missing text");
  if (caller(params) == id) return app_error("cannot send to your own session");
  Session* session = find_session(*id);
  if (!session) return no_such_session(*id);
  session->screen += "\n> " + *text;
  if (boolean_member(params, "submit").value_or(true)) session->screen += "\n";
  return {{"ok", true}};
}

json::Value DesktopModel::session_kill(const json::Value& params) {
  const auto id = string_member(params, "id");
  if (!id) return app_error("missing id");
  if (caller(params) == id) return app_error("cannot kill your own session");
  const Session* session = find_session(*id);
  if (!session) return no_such_session(*id);
  sessions_.erase(sessions_.begin() + (session - sessions_.data()));
  return {{"ok", true}, {"id", *id}};
}

std::optional<json::Value> DesktopModel::session_wait(const json::Value& params, const Sleeper& sleep) const {
  const auto id = string_member(params, "id");
  if (!id) return app_error("missing id");
  if (caller(params) == id) return app_error("cannot wait for your own session");
  const Session* session = find_session(*id);
  if (!session && *id != kBusy) return no_such_session(*id);
  if (!is_busy(*id, session)) {
    return json::Value{{"id", *id},
                       {"status", "waiting-for-input"},
                       {"inputOrigin", "human"},
                       {"approvalTool", nullptr},
                       {"timedOut", false}};
  }
  const std::int64_t secs =
      std::clamp<std::int64_t>(integer_member(params, "timeout_secs").value_or(kDefaultWaitSecs), 0, kMaxWaitSecs);
  if (!sleep(std::chrono::seconds(secs))) return std::nullopt;
  return json::Value{{"id", *id}, {"status", "working"}, {"timedOut", true}, {"waitedSecs", secs}};
}

json::Value DesktopModel::session_spawn(const json::Value& params) {
  const std::string agent = string_member(params, "agent").value_or("claude");
  if (agent != "claude" && agent != "codex") return app_error("unknown agent: " + agent);
  const auto self_id = caller(params);
  const Session* self = self_id ? find_session(*self_id) : nullptr;
  Session session;
  session.id = "s";
  session.id += std::to_string(next_session_number_++);
  session.label = string_member(params, "label").value_or("");
  session.cwd = string_member(params, "cwd").value_or(self ? self->cwd : "/Users/dev");
  session.agent = agent;
  session.screen = agent + "> ready";
  json::Value reply = {{"ok", true}, {"id", session.id}, {"agent", agent}, {"cwd", session.cwd}};
  if (const auto full_access = boolean_member(params, "codex_full_access")) reply["codex_full_access"] = *full_access;
  sessions_.push_back(std::move(session));
  return reply;
}

}  // namespace korvane::standin
