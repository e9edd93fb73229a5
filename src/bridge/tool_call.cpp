#include "bridge/tool_call.h"

#include <algorithm>
#include <exception>
#include <iterator>

#include "bridge/app_channel.h"
#include "bridge/socket_info.h"
#include "json/write/writer.h"

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

Outcome<Value> app_request_body(std::string_view name, Value arguments, const std::optional<std::string>& session_id) {
  const RouteEntry* entry = find_route(name);
  if (entry == nullptr) return error_text("unknown tool: " + std::string(name));
  Value body = Value::object();
  body["method"] = std::string(name);
  switch (entry->route) {
    case Route::kMethodOnly: return body;
    case Route::kPlainForward: body["params"] = std::move(arguments); return body;
    case Route::kSessionForward: body["params"] = session_params(std::move(arguments), session_id); return body;
    default: {
      auto params = built_params(entry->route, arguments, session_id);
      if (!params) return params;
      body["params"] = std::move(params).value();
      return body;
    }
  }
}

namespace {

ToolCallObserver* g_observer = nullptr;  // set by main before the first request

// What a call read and sent, kept for its observer.
struct CallRecord {
  std::string path;
  std::optional<SocketInfoProbe> probe;
  ExchangeFacts exchange;
  bool exchanged = false;
};

Outcome<json::CompactLiteral> relay_tool_call(std::string_view name, Value arguments, CallRecord& record) {
  record.path = socket_info_path();
  const auto& info = record.probe.emplace(probe_socket_info(record.path)).info;
  if (!info) return error_text(info.error());
  auto body = app_request_body(name, std::move(arguments), caller_session_id());
  if (!body) return std::move(body).failure();
  record.exchanged = true;
  return post_to_app(info.value().port, info.value().token, body.value(), &record.exchange);
}

void show_call(ToolCallObserver& observer, std::string_view name, const CallRecord& record,
               const Outcome<json::CompactLiteral>& outcome, std::chrono::steady_clock::duration elapsed) noexcept {
  try {
    observer.call_finished({name, record.path, *record.probe, record.exchanged ? &record.exchange : nullptr,
                            outcome.ok() ? nullptr : &outcome.error(),
                            std::chrono::duration_cast<std::chrono::microseconds>(elapsed)});
  } catch (const std::exception&) {  // the observer misses this call; the caller does not
  }
}

}  // namespace

void watch_tool_calls(ToolCallObserver* observer) { g_observer = observer; }

Outcome<json::CompactLiteral> handle_tool_call(std::string_view name, Value arguments) {
  CallRecord record;
  if (g_observer == nullptr) return relay_tool_call(name, std::move(arguments), record);
  g_observer->call_starting();
  const auto started = std::chrono::steady_clock::now();
  auto outcome = relay_tool_call(name, std::move(arguments), record);
  show_call(*g_observer, name, record, outcome, std::chrono::steady_clock::now() - started);
  return outcome;
}

}  // namespace korvane
