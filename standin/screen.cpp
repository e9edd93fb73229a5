// The screen methods of the pretend desktop: a fixed 2880x1800 screen at scale 2.
#include <array>
#include <cctype>

#include "desktop_model.h"
#include "params.h"

namespace korvane::standin {
namespace {

constexpr std::int64_t kWidth = 2880;
constexpr std::int64_t kHeight = 1800;
constexpr std::int64_t kScale = 2;

struct ScreenLine {
  std::string_view text;
  double conf;
  std::int64_t x, y, w, h;  // physical pixels
};

constexpr std::array<ScreenLine, 5> kScreen{{
    {"File  Edit  View", 0.99, 20, 8, 360, 36},
    {"Welcome to korvane", 0.97, 900, 400, 1080, 80},
    {"ログイン", 0.93, 1300, 900, 280, 64},
    {"OK", 0.98, 1300, 1200, 120, 60},
    {"Cancel", 0.96, 1500, 1200, 200, 60},
}};

// Lower-case ASCII, full-width ASCII folded to ASCII, whitespace removed: enough of NFKC
// and whitespace-insensitivity for a pretend OCR.
std::string fold_for_match(std::string_view text) {
  std::string folded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    // U+FF01..U+FF5E are EF BC 81..EF BD 9E; they map to U+0021..U+007E.
    if (byte == 0xEF && i + 2 < text.size()) {
      const auto second = static_cast<unsigned char>(text[i + 1]);
      const auto third = static_cast<unsigned char>(text[i + 2]);
      const int code = ((second & 0x3F) << 6) | (third & 0x3F);
      if ((second == 0xBC || second == 0xBD) && code >= 0xF01 && code <= 0xF5E) {
        folded += static_cast<char>(std::tolower(code - 0xF01 + 0x21));
        i += 2;
        continue;
      }
    }
    if (byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r') continue;
    folded += static_cast<char>(byte < 0x80 ? std::tolower(byte) : byte);
  }
  return folded;
}

json::Value ocr_line(const ScreenLine& line) {
  return {{"text", line.text}, {"conf", line.conf}, {"x", line.x}, {"y", line.y}, {"w", line.w}, {"h", line.h}};
}

}  // namespace

json::Value DesktopModel::screenshot() {
  const std::string path = "/tmp/korvane-screenshot-" + std::to_string(++screenshot_count_) + ".png";
  return {{"path", path}, {"width", kWidth}, {"height", kHeight}, {"scale", kScale}};
}

json::Value DesktopModel::screen_ocr() {
  json::Value lines = json::Value::array();
  for (const ScreenLine& line : kScreen) lines.push_back(ocr_line(line));
  json::Value reply = screenshot();
  reply["image"] = reply["path"];
  reply.erase("path");
  reply["lines"] = std::move(lines);
  return reply;
}

json::Value DesktopModel::screen_find_text(const json::Value& params) const {
  const auto query = string_member(params, "query");
  if (!query) return app_error("missing query");
  const std::string wanted = fold_for_match(*query);
  const ScreenLine* best = nullptr;
  for (const ScreenLine& line : kScreen) {
    const std::string text = fold_for_match(line.text);
    if (wanted.empty() || text.find(wanted) == std::string::npos) continue;
    if (!best || line.conf > best->conf) best = &line;
  }
  if (!best) return app_error("not found");
  return {{"text", best->text},
          {"conf", best->conf},
          {"click_x", (best->x + best->w / 2) / kScale},
          {"click_y", (best->y + best->h / 2) / kScale}};
}

json::Value DesktopModel::screen_learn(const json::Value& params) {
  const auto name = string_member(params, "name");
  if (!name) return app_error("missing name");
  LearnedTemplate region;
  const std::array<std::pair<const char*, std::int64_t*>, 4> fields{
      {{"x", &region.x}, {"y", &region.y}, {"w", &region.w}, {"h", &region.h}}};
  for (const auto& [key, field] : fields) {
    const auto number = integer_member(params, key);
    if (!number) return app_error(std::string("missing ") + key);
    *field = *number;
  }
  if (region.w <= 0 || region.h <= 0) return app_error("empty region");
  templates_[*name] = region;
  return {{"ok", true}, {"name", *name}, {"w", region.w}, {"h", region.h}};
}

json::Value DesktopModel::list_learned() const {
  json::Value list = json::Value::array();
  for (const auto& [name, learned] : templates_) {
    json::Value last = nullptr;
    if (learned.last_match) last = {{"x", learned.last_match->first}, {"y", learned.last_match->second}};
    list.push_back({{"name", name}, {"w", learned.w}, {"h", learned.h}, {"hits", learned.hits}, {"lastMatch", last}});
  }
  return {{"templates", std::move(list)}};
}

json::Value DesktopModel::screen_find_learned(const json::Value& params) {
  const auto name = string_member(params, "name");
  if (!name) return app_error("missing name");
  const auto found = templates_.find(*name);
  if (found == templates_.end()) return app_error("no learned template named " + *name);
  LearnedTemplate& learned = found->second;
  const std::int64_t click_x = learned.x + learned.w / 2;
  const std::int64_t click_y = learned.y + learned.h / 2;
  ++learned.hits;
  learned.last_match = {click_x, click_y};
  return {{"name", *name}, {"click_x", click_x}, {"click_y", click_y}, {"score", 0.97}};
}

}  // namespace korvane::standin
