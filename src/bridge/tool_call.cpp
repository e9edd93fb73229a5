#include "bridge/tool_call.h"

#include <algorithm>
#include <iterator>

#include "bridge/app_channel.h"
#include "bridge/socket_info.h"
#include "diagnostics/trace.h"
#include "json/writer.h"

namespace korvane {
namespace {

using json::Value;

enum class Route {
  kSessionForward,  // the arguments object with "session_id" set to the caller's
  kMethodOnly,      // no "params" at all
  kPlainForward,    // the arguments unchanged
  kOpenMarkdown,    // built: "path", "session_id"
  kOpenDevPreview,  // built: "layout", "session_id", "url"
  kNotify,          // built: "body", "title"
};

struct RouteEntry {
  std::string_view tool;
  Route route;
};

constexpr RouteEntry kRoutes[] = {
    {"sessions_list", Route::kSessionForward},
    {"session_read", Route::kSessionForward},
    {"session_send", Route::kSessionForward},
    {"session_kill", Route::kSessionForward},
    {"session_wait", Route::kSessionForward},
    {"session_spawn", Route::kSessionForward},
    {"open_markdown", Route::kOpenMarkdown},
    {"open_dev_preview", Route::kOpenDevPreview},
    {"notify", Route::kNotify},
    {"screenshot", Route::kMethodOnly},
    {"screen_ocr", Route::kMethodOnly},
    {"screen_find_text", Route::kPlainForward},
    {"screen_find_learned", Route::kPlainForward},
    {"screen_learn", Route::kPlainForward},
    {"list_learned", Route::kMethodOnly},
    {"click", Route::kPlainForward},
    {"double_click", Route::kPlainForward},
    {"move_mouse", Route::kPlainForward},
    {"drag", Route::kPlainForward},
    {"type_text", Route::kPlainForward},
    {"key_combo", Route::kPlainForward},
    {"scroll", Route::kPlainForward},
};

const RouteEntry* find_route(std::string_view name) {
  const auto* entry = std::find_if(std::begin(kRoutes), std::end(kRoutes),
                                   [name](const RouteEntry& candidate) { return candidate.tool == name; });
  return entry == std::end(kRoutes) ? nullptr : entry;
}

// The named argument when the arguments are an object holding it as a string, else null.
Value given(const Value& arguments, const char* name) {
  if (!arguments.is_object()) return nullptr;
  const auto member = arguments.find(name);
  if (member == arguments.end() || !member->is_string()) return nullptr;
  return *member;
}

Value session_value(const std::optional<std::string>& session_id) {
  return session_id ? Value(*session_id) : Value(nullptr);
}

Value session_params(Value arguments, const std::optional<std::string>& session_id) {
  Value params = arguments.is_object() ? std::move(arguments) : Value::object();
  params["session_id"] = session_value(session_id);
  return params;
}

Outcome<Value> open_markdown_params(const Value& arguments, const std::optional<std::string>& session_id) {
  Value path = given(arguments, "path");
  if (path.is_null()) return error_text("missing path");
  Value params = Value::object();
  params["path"] = std::move(path);
  params["session_id"] = session_value(session_id);
  return params;
}

Outcome<Value> open_dev_preview_params(const Value& arguments, const std::optional<std::string>& session_id) {
  Value url = given(arguments, "url");
  if (url.is_null()) return error_text("missing url");
  Value params = Value::object();
  params["layout"] = given(arguments, "layout");
  params["session_id"] = session_value(session_id);
  params["url"] = std::move(url);
  return params;
}

Outcome<Value> notify_params(const Value& arguments) {
  Value title = given(arguments, "title");
  if (title.is_null()) return error_text("missing title");
  Value body = given(arguments, "body");
  if (body.is_null()) return error_text("missing body");
  Value params = Value::object();
  params["body"] = std::move(body);
  params["title"] = std::move(title);
  return params;
}

// The assembled "params" of a built-params route, or its first missing-argument text.
Outcome<Value> built_params(Route route, const Value& arguments, const std::optional<std::string>& session_id) {
  if (route == Route::kOpenMarkdown) return open_markdown_params(arguments, session_id);
  if (route == Route::kOpenDevPreview) return open_dev_preview_params(arguments, session_id);
  return notify_params(arguments);
}

}  // namespace

Outcome<Value> app_request_body(std::string_view name, Value arguments,
                                const std::optional<std::string>& session_id) {
  const RouteEntry* entry = find_route(name);
  if (entry == nullptr) return error_text("unknown tool: " + std::string(name));
  Value body = Value::object();
  body["method"] = std::string(name);
  switch (entry->route) {
    case Route::kMethodOnly:
      return body;
    case Route::kPlainForward:
      body["params"] = std::move(arguments);
      return body;
    case Route::kSessionForward:
      body["params"] = session_params(std::move(arguments), session_id);
      return body;
    default: {
      auto params = built_params(entry->route, arguments, session_id);
      if (!params) return params;
      body["params"] = std::move(params).value();
      return body;
    }
  }
}

namespace {

Outcome<json::CompactLiteral> relay_tool_call(std::string_view name, Value arguments, trace::AppCall& call) {
  const std::string path = socket_info_path();
  const SocketInfoProbe probe = probe_socket_info(path);
  call.socket_info(path, probe);
  const auto& info = probe.info;
  if (!info) return error_text(info.error());
  auto body = app_request_body(name, std::move(arguments), caller_session_id());
  if (!body) return error_text(std::move(body).take_error());
  auto reply = post_to_app(info.value().port, info.value().token, body.value(), call.exchange());
  if (!reply) return error_text(std::move(reply).take_error());
  return reply;
}

}  // namespace

Outcome<json::CompactLiteral> handle_tool_call(std::string_view name, Value arguments) {
  trace::AppCall call(name);
  auto outcome = relay_tool_call(name, std::move(arguments), call);
  call.finish(outcome);
  return outcome;
}

}  // namespace korvane
