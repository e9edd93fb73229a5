// The pretend desktop: agent sessions, a fixed screen, learned templates, input events.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "json/shared/value.h"

namespace korvane::standin {

// Sleeps for a duration; false when the sleep was cut short (stop signal, client gone).
using Sleeper = std::function<bool(std::chrono::milliseconds)>;

struct Session {
  std::string id;
  std::string label;
  std::string cwd;
  std::string agent;
  std::string screen;
};

struct LearnedTemplate {
  std::int64_t x = 0, y = 0, w = 0, h = 0;
  std::int64_t hits = 0;
  std::optional<std::pair<std::int64_t, std::int64_t>> last_match;
};

class DesktopModel {
 public:
  DesktopModel();

  // Performs one app method; nullopt when a wait was cut short and no reply should go out.
  std::optional<json::Value> perform(const std::string& method, const json::Value& params, const Sleeper& sleep);

 private:
  json::Value sessions_list(const json::Value& params) const;
  json::Value session_read(const json::Value& params) const;
  json::Value session_send(const json::Value& params);
  json::Value session_kill(const json::Value& params);
  std::optional<json::Value> session_wait(const json::Value& params, const Sleeper& sleep) const;
  json::Value session_spawn(const json::Value& params);

  json::Value screenshot();
  json::Value screen_ocr();
  json::Value screen_find_text(const json::Value& params) const;
  json::Value screen_learn(const json::Value& params);
  json::Value list_learned() const;
  json::Value screen_find_learned(const json::Value& params);

  Session* find_session(const std::string& id);
  const Session* find_session(const std::string& id) const;

  std::vector<Session> sessions_;
  std::map<std::string, LearnedTemplate> templates_;
  int next_session_number_;
  int screenshot_count_ = 0;
};

}  // namespace korvane::standin
