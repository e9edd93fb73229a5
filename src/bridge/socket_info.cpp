#include "bridge/socket_info.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "common/posix.h"
#include "common/utf8.h"
#include "json/record.h"

namespace korvane {
namespace {

constexpr json::FieldSpec kSocketInfoFields[] = {
    {"port", json::FieldKind::kU16, false},
    {"token", json::FieldKind::kString, false},
};
constexpr json::RecordSpec kSocketInfoRecord{"SocketInfo", kSocketInfoFields};

// The per-user temporary directory: TMPDIR, the one the system reports, else /tmp.
std::string temporary_directory() {
  if (const char* tmpdir = std::getenv("TMPDIR")) return tmpdir;
#ifdef __APPLE__
  const std::size_t size = confstr(_CS_DARWIN_USER_TEMP_DIR, nullptr, 0);
  if (size > 0) {
    std::string directory(size, '\0');
    if (confstr(_CS_DARWIN_USER_TEMP_DIR, directory.data(), size) == size) {
      directory.resize(size - 1);  // drop the terminating NUL
      return directory;
    }
  }
#endif
  return "/tmp";
}

// Appends a path component, adding "/" only between a non-empty path and the component.
void push_component(std::string& path, std::string_view component) {
  if (!path.empty() && path.back() != '/') path += '/';
  path += component;
}

// The whole content of a file; nullopt when it cannot be opened or read (directories included).
std::optional<std::string> read_whole_file(const std::string& path) {
  int fd = -1;
  KORVANE_RETRY_EINTR(fd, ::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd < 0) return std::nullopt;
  std::string content;
  char chunk[16384];
  for (;;) {
    ssize_t count = 0;
    KORVANE_RETRY_EINTR(count, ::read(fd, chunk, sizeof chunk));
    if (count < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (count == 0) break;
    content.append(chunk, static_cast<std::size_t>(count));
  }
  ::close(fd);
  return content;
}

}  // namespace

std::string socket_info_path() {
  if (const char* configured = std::getenv("KORVANE_SOCKET_INFO"); configured && is_valid_utf8(configured)) {
    return configured;
  }
  const char* home = std::getenv("HOME");
  std::string path = home ? std::string(home) : temporary_directory();
  push_component(path, ".config");
  push_component(path, "korvane");
  push_component(path, "socket-info.json");
  return path;
}

Outcome<SocketInfo> decode_socket_info(std::string_view bytes) {
  json::FieldValue fields[std::size(kSocketInfoFields)];
  if (!json::read_record(bytes, kSocketInfoRecord, fields)) return error_text(std::string(kAppNotRunning));
  SocketInfo info{std::get<std::uint16_t>(fields[0]), std::move(std::get<std::string>(fields[1]))};
  // CR, LF or NUL in the token would split the request head and inject headers.
  if (info.token.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
    return error_text(std::string(kAppNotRunning));
  }
  return info;
}

Outcome<SocketInfo> read_socket_info() {
  const auto content = read_whole_file(socket_info_path());
  if (!content) return error_text(std::string(kAppNotRunning));
  return decode_socket_info(*content);
}

}  // namespace korvane
