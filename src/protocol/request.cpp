#include "protocol/request.h"

#include <array>

#include "json/read/reader.h"

namespace korvane {
namespace {

constexpr std::array<json::FieldSpec, 4> kRequestFields = {{
    {"jsonrpc", json::FieldKind::kString, false},
    {"id", json::FieldKind::kAny, true},
    {"method", json::FieldKind::kString, false},
    {"params", json::FieldKind::kJsonText, true},
}};

constexpr json::RecordSpec kRequestRecord = {"McpRequest", kRequestFields};

}  // namespace

Outcome<McpRequest> read_request(std::string_view line) {
  std::array<json::FieldValue, kRequestFields.size()> values;
  if (auto read = json::read_record(line, kRequestRecord, values); !read) return std::move(read).failure();
  McpRequest request{std::move(std::get<std::string>(values[0])), nullptr, std::move(std::get<std::string>(values[2]))};
  if (auto* id = std::get_if<json::Value>(&values[1])) request.id = std::move(*id);
  if (const auto* params = std::get_if<json::JsonText>(&values[3])) request.params = params->text;
  return request;
}

}  // namespace korvane
