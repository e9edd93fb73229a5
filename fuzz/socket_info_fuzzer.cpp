// Decoding any bytes as a socket-info file: a failure is exactly the not-running text, and a
// success encodes as {"port":P,"token":T} and decodes back to the same port and token.
#include <cstddef>
#include <cstdint>
#include <string>

#include "bridge/socket_info.h"
#include "fuzz_check.h"
#include "json/write/writer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace korvane;
  auto info = decode_socket_info(fuzz::as_text(data, size));
  if (!info) {
    FUZZ_CHECK(info.error() == kAppNotRunning, info.error());
    return 0;
  }
  const SocketInfo& decoded = info.value();
  FUZZ_CHECK(fuzz::is_well_formed_utf8(decoded.token), "token is not UTF-8");
  FUZZ_CHECK(decoded.token.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos,
             "token would break the request head: " + decoded.token);
  json::Value object = json::Value::object();
  object["port"] = decoded.port;
  object["token"] = decoded.token;
  const std::string encoded = json::to_json(object);
  FUZZ_CHECK(encoded.starts_with("{\"port\":" + std::to_string(decoded.port) + ",\"token\":\""), encoded);
  auto again = decode_socket_info(encoded);
  FUZZ_CHECK(again.ok(), encoded + " does not decode: " + (again.ok() ? std::string() : again.error()));
  FUZZ_CHECK(again.value().port == decoded.port, encoded);
  FUZZ_CHECK(again.value().token == decoded.token, encoded);
  return 0;
}
