#include "wire.h"

#include <unistd.h>

#include <cerrno>

#include "common/posix.h"

namespace korvane::standin {
namespace {

std::string_view reason_phrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 405: return "Method Not Allowed";
    case 413: return "Payload Too Large";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    default: return "Unknown";
  }
}

}  // namespace

std::string compact_json(const json::Value& value) {
  return value.dump(-1, ' ', false, json::Value::error_handler_t::replace);
}

std::string reply_head(int status, std::size_t body_length) {
  std::string head = "HTTP/1.1 " + std::to_string(status) + " ";
  head += reason_phrase(status);
  head += "\r\nContent-Type: application/json\r\nContent-Length: ";
  head += std::to_string(body_length);
  head += "\r\nConnection: close\r\n\r\n";
  return head;
}

std::string http_reply(int status, std::string_view body) {
  std::string reply = reply_head(status, body.size());
  reply += body;
  return reply;
}

}  // namespace korvane::standin
