#include "protocol/request.h"

#include <array>

#include "json/record.h"

namespace korvane {
namespace {

constexpr std::array<json::FieldSpec, 4> kRequestFields = {{
    {"jsonrpc", json::FieldKind::kString, false},
    {"id", json::FieldKind::kAny, true},
    {"method", json::FieldKind::kString, false},
    {"params", json::FieldKind::kAny, true},
}};

constexpr json::RecordSpec kRequestRecord = {"McpRequest", kRequestFields};

}  // namespace

Outcome<McpRequest> read_request(std::string_view line) {
  auto fields = json::read_record(line, kRequestRecord);
  if (!fields) return error_text(std::move(fields).take_error());
  auto& values = fields.value();
  return McpRequest{
      std::move(values[0].get_ref<std::string&>()),
      std::move(values[1]),
      std::move(values[2].get_ref<std::string&>()),
      std::move(values[3]),
  };
}

}  // namespace korvane
