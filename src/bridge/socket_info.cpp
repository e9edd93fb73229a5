#include "bridge/socket_info.h"

#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "common/hex.h"
#include "common/utf8.h"
#include "json/read/reader.h"
#include "platform/temporary_directory.h"

namespace korvane {
namespace {

constexpr json::FieldSpec kSocketInfoFields[] = {
    {"port", json::FieldKind::kU16, false},
    {"token", json::FieldKind::kString, false},
};
constexpr json::RecordSpec kSocketInfoRecord{"SocketInfo", kSocketInfoFields};

// Where the file may lie, in the order they are tried; the system's per-user temporary
// directory only on systems that have one.
enum class Source { kExplicit, kHome, kTmpdir, kSystemTemporary, kSlashTmp };
constexpr Source kSources[] = {Source::kExplicit, Source::kHome, Source::kTmpdir, Source::kSystemTemporary,
                               Source::kSlashTmp};

bool applies(Source source) { return source != Source::kSystemTemporary || platform::has_user_temporary_directory(); }

// Appends a path component, adding "/" only between a non-empty path and the component.
void push_component(std::string& path, std::string_view component) {
  if (!path.empty() && path.back() != '/') path += '/';
  path += component;
}

std::string under(std::string base) {
  push_component(base, ".config");
  push_component(base, "korvane");
  push_component(base, "socket-info.json");
  return base;
}

SocketInfoLocation from_variable(std::string_view label, const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return {label, std::nullopt, "not set"};
  return {label, under(value), ""};
}

SocketInfoLocation locate(Source source) {
  switch (source) {
    case Source::kExplicit: {
      const char* configured = std::getenv("KORVANE_SOCKET_INFO");
      if (configured == nullptr) return {"KORVANE_SOCKET_INFO", std::nullopt, "not set"};
      if (!is_valid_utf8(configured)) return {"KORVANE_SOCKET_INFO", std::nullopt, "set, but not valid UTF-8: ignored"};
      return {"KORVANE_SOCKET_INFO", std::string(configured), ""};
    }
    case Source::kHome: return from_variable("$HOME", "HOME");
    case Source::kTmpdir: return from_variable("$TMPDIR", "TMPDIR");
    case Source::kSystemTemporary:
      if (auto directory = platform::user_temporary_directory())
        return {"per-user temporary directory", under(*directory), ""};
      return {"per-user temporary directory", std::nullopt, "not reported by the system"};
    case Source::kSlashTmp: break;
  }
  return {"/tmp", under("/tmp"), ""};
}

constexpr std::string_view kRecordShape = R"(does not hold {"port":<1 to 65535>,"token":"<text>"})";

// A byte a request head cannot carry: a control character other than tab (CR or LF would split
// the head and inject headers; the others have no place in a header value).
bool is_head_control(char byte) {
  const auto value = static_cast<unsigned char>(byte);
  return (value < 0x20 && value != '\t') || value == 0x7f;
}

std::string_view::size_type first_head_control(std::string_view token) {
  for (std::size_t at = 0; at < token.size(); ++at) {
    if (is_head_control(token[at])) return at;
  }
  return std::string_view::npos;
}

// Why a record that reads well is still refused, or "" when it is not.
std::string content_problem(const SocketInfo& info) {
  if (info.port == 0) return std::string(kRecordShape) + " (port 0 names no listener)";
  const std::size_t control = first_head_control(info.token);
  if (control == std::string_view::npos) return "";
  return "holds a control character (0x" + encode_hex(info.token.substr(control, 1)) +
         ") in its token, which a request head cannot carry";
}

// Why bytes that decode_socket_info refused do not decode, without quoting any of them (the
// token might be among them).
std::string decode_problem(std::string_view bytes) {
  json::FieldValue fields[std::size(kSocketInfoFields)];
  const auto read = json::read_record(bytes, kSocketInfoRecord, fields);
  if (read) return content_problem({std::get<std::uint16_t>(fields[0]), std::get<std::string>(fields[1])});
  const std::string& reason = read.error();
  const std::size_t position = reason.rfind(" at line ");
  return std::string(kRecordShape) +
         (position == std::string::npos ? std::string() : " (the reader stopped" + reason.substr(position) + ")");
}

}  // namespace

std::string socket_info_path() {
  for (const Source source : kSources) {
    if (!applies(source)) continue;
    if (auto location = locate(source); location.path) return std::move(*location.path);
  }
  return under("/tmp");
}

std::vector<SocketInfoLocation> socket_info_locations() {
  std::vector<SocketInfoLocation> locations;
  for (const Source source : kSources) {
    if (applies(source)) locations.push_back(locate(source));
  }
  return locations;
}

Outcome<SocketInfo> decode_socket_info(std::string_view bytes) {
  json::FieldValue fields[std::size(kSocketInfoFields)];
  if (!json::read_record(bytes, kSocketInfoRecord, fields)) return error_text(std::string(kAppNotRunning));
  SocketInfo info{std::get<std::uint16_t>(fields[0]), std::move(std::get<std::string>(fields[1]))};
  if (first_head_control(info.token) != std::string_view::npos) return error_text(std::string(kAppNotRunning));
  return info;
}

SocketInfoProbe probe_socket_info(const std::string& path) {
  SocketInfoProbe probe{read_whole_file(path, kSocketInfoRules), error_text(std::string(kAppNotRunning)), ""};
  if (probe.file.verdict != FileVerdict::kRead) {
    probe.problem = describe_refusal(probe.file, kSocketInfoRules);
    return probe;
  }
  probe.info = decode_socket_info(probe.file.content);
  if (!probe.info) {
    probe.problem = decode_problem(probe.file.content);
  } else if (probe.info.value().port == 0) {  // decodes, but names no listener: nothing to connect to
    probe.problem = content_problem(probe.info.value());
    probe.info = error_text(std::string(kAppNotRunning));
  }
  probe.file.content.clear();
  return probe;
}

Outcome<SocketInfo> read_socket_info() { return probe_socket_info(socket_info_path()).info; }

}  // namespace korvane
