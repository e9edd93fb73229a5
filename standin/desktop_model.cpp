#include "desktop_model.h"

#include <array>
#include <string_view>

#include "params.h"

namespace korvane::standin {
namespace {

enum class ArgType { integer, string };

struct Argument {
  std::string_view name;
  ArgType type;
};

// Methods that act at once and answer {"ok":true} with their params echoed back.
struct EchoMethod {
  std::string_view name;
  std::array<Argument, 4> required;
  bool has_button;
};

constexpr Argument kNone{"", ArgType::string};

constexpr std::array<EchoMethod, 10> kEchoMethods{{
    {"open_markdown", {{{"path", ArgType::string}, kNone, kNone, kNone}}, false},
    {"open_dev_preview", {{{"url", ArgType::string}, kNone, kNone, kNone}}, false},
    {"notify", {{{"title", ArgType::string}, {"body", ArgType::string}, kNone, kNone}}, false},
    {"click", {{{"x", ArgType::integer}, {"y", ArgType::integer}, kNone, kNone}}, true},
    {"double_click", {{{"x", ArgType::integer}, {"y", ArgType::integer}, kNone, kNone}}, false},
    {"move_mouse", {{{"x", ArgType::integer}, {"y", ArgType::integer}, kNone, kNone}}, false},
    {"drag",
     {{{"x1", ArgType::integer}, {"y1", ArgType::integer}, {"x2", ArgType::integer}, {"y2", ArgType::integer}}},
     true},
    {"type_text", {{{"text", ArgType::string}, kNone, kNone, kNone}}, false},
    {"key_combo", {{{"combo", ArgType::string}, kNone, kNone, kNone}}, false},
    {"scroll",
     {{{"x", ArgType::integer}, {"y", ArgType::integer}, {"dx", ArgType::integer}, {"dy", ArgType::integer}}},
     false},
}};

bool has_argument(const json::Value& params, const Argument& argument) {
  return argument.type == ArgType::integer ? integer_member(params, argument.name).has_value()
                                           : string_member(params, argument.name).has_value();
}

json::Value perform_echo(const EchoMethod& method, const json::Value& params) {
  for (const Argument& argument : method.required) {
    if (!argument.name.empty() && !has_argument(params, argument)) {
      return app_error("missing " + std::string(argument.name));
    }
  }
  if (method.has_button && member(params, "button")) {
    const auto button = string_member(params, "button");
    if (button != "left" && button != "right" && button != "middle") return app_error("invalid button");
  }
  json::Value reply = params.is_object() ? params : json::Value::object();
  reply["ok"] = true;
  return reply;
}

Session make_session(std::string id, std::string label, std::string agent) {
  return Session{std::move(id), std::move(label), "/Users/dev/project", agent, agent + "> ready"};
}

}  // namespace

DesktopModel::DesktopModel()
    : sessions_{make_session("s1", "orchestrator", "claude"), make_session("s2", "worker", "codex")},
      next_session_number_(3) {}

std::optional<json::Value> DesktopModel::perform(const std::string& method, const json::Value& params,
                                                 const Sleeper& sleep) {
  if (method == "sessions_list") return sessions_list(params);
  if (method == "session_read") return session_read(params);
  if (method == "session_send") return session_send(params);
  if (method == "session_kill") return session_kill(params);
  if (method == "session_wait") return session_wait(params, sleep);
  if (method == "session_spawn") return session_spawn(params);
  if (method == "screenshot") return screenshot();
  if (method == "screen_ocr") return screen_ocr();
  if (method == "screen_find_text") return screen_find_text(params);
  if (method == "screen_learn") return screen_learn(params);
  if (method == "list_learned") return list_learned();
  if (method == "screen_find_learned") return screen_find_learned(params);
  for (const EchoMethod& echo : kEchoMethods) {
    if (echo.name == method) return perform_echo(echo, params);
  }
  return app_error("unknown method: " + method);
}

}  // namespace korvane::standin
