// Reading any bytes as a request line: errors are positioned inside the input, and a request
// that reads writes back to a line that reads to the same request.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "json/read/reader.h"
#include "json/write/writer.h"
#include "protocol/request.h"

namespace korvane::fuzz {
namespace {

// The params text was checked as the request was read: it reads as a value on its own.
json::Value params_of(const McpRequest& request) {
  auto params = json::read_value(request.params);
  FUZZ_CHECK(params.ok(), std::string(request.params) + " does not read: " + (params.ok() ? "" : params.error()));
  return std::move(params).value();
}

json::Value as_object(const McpRequest& request) {
  json::Value object = json::Value::object();
  object["jsonrpc"] = request.jsonrpc;
  object["id"] = request.id;
  object["method"] = request.method;
  object["params"] = params_of(request);
  return object;
}

void check_round_trip(const McpRequest& request) {
  FUZZ_CHECK(nesting_depth(params_of(request)) <= 126, "params nested deeper than the request allows");
  FUZZ_CHECK(nesting_depth(request.id) <= 126, "id nested deeper than the request allows");
  const std::string line = json::to_json(as_object(request));
  auto again = read_request(line);
  FUZZ_CHECK(again.ok(), line + " does not read back: " + (again.ok() ? std::string() : again.error()));
  const McpRequest& copy = again.value();
  FUZZ_CHECK(copy.jsonrpc == request.jsonrpc, line);
  FUZZ_CHECK(copy.method == request.method, line);
  FUZZ_CHECK(same_value(copy.id, request.id), line);
  FUZZ_CHECK(same_value(params_of(copy), params_of(request)), line);
  FUZZ_CHECK(json::to_json(as_object(copy)) == line, line);
}

}  // namespace
}  // namespace korvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace korvane;
  const std::string_view input = fuzz::as_text(data, size);
  auto request = read_request(input);
  if (!request) {
    const std::string_view reason = fuzz::checked_reason(input, request.error());
    FUZZ_CHECK(fuzz::is_record_reason(reason), request.error());
    return 0;
  }
  FUZZ_CHECK(fuzz::is_well_formed_utf8(request.value().jsonrpc), "jsonrpc is not UTF-8");
  FUZZ_CHECK(fuzz::is_well_formed_utf8(request.value().method), "method is not UTF-8");
  fuzz::check_round_trip(request.value());
  return 0;
}
