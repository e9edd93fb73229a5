#include "socket_info_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "base/unique_fd.h"
#include "common/hex.h"
#include "common/posix.h"
#include "json/shared/value.h"
#include "wire.h"

namespace korvane::standin {
namespace {

Outcome<void> write_new_file(const std::string& path, const std::string& bytes) {
  UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (!file.valid()) return error_text("open " + path + ": " + os_error_text(errno));
  if (auto written = write_all(file.get(), bytes); !written)
    return error_text("write " + path + ": " + written.error());
  return ok_outcome();
}

}  // namespace

Outcome<std::string> resolve_socket_info_path(const std::optional<std::string>& option) {
  if (option) return *option;
  if (const char* from_env = std::getenv("KORVANE_SOCKET_INFO"); from_env && *from_env) return std::string(from_env);
  const char* home = std::getenv("HOME");
  if (!home || !*home) return error_text("HOME is not set; pass --socket-info");
  return std::string(home) + "/.config/korvane/socket-info.json";
}

Outcome<std::string> random_token() {
  UniqueFd random(::open("/dev/urandom", O_RDONLY | O_CLOEXEC));
  if (!random.valid()) return error_text("open /dev/urandom: " + os_error_text(errno));
  unsigned char bytes[16];
  std::size_t filled = 0;
  while (filled < sizeof bytes) {
    ssize_t got;
    KORVANE_RETRY_EINTR(got, ::read(random.get(), bytes + filled, sizeof bytes - filled));
    if (got <= 0) return error_text("read /dev/urandom: " + os_error_text(errno));
    filled += static_cast<std::size_t>(got);
  }
  return encode_hex(std::string_view(reinterpret_cast<const char*>(bytes), sizeof bytes));
}

Outcome<void> publish_socket_info(const std::string& path, std::uint16_t port, const std::string& token) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  std::error_code error;
  if (!parent.empty()) std::filesystem::create_directories(parent, error);
  if (error) return error_text("create " + parent.string() + ": " + error.message());

  const json::Value info = {{"port", port}, {"token", token}};
  const std::string temporary = path + ".tmp." + std::to_string(::getpid());
  if (auto written = write_new_file(temporary, compact_json(info)); !written) return written;
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    const int saved = errno;
    std::remove(temporary.c_str());
    return error_text("rename to " + path + ": " + os_error_text(saved));
  }
  return ok_outcome();
}

void withdraw_socket_info(const std::string& path) { ::unlink(path.c_str()); }

}  // namespace korvane::standin
