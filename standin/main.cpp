// korvane-standin-app: a stand-in for the korvane desktop app's HTTP endpoint, for tests and
// benchmarks of the MCP server.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "app_server.h"
#include "common/posix.h"
#include "common/whole_file.h"
#include "listener.h"
#include "options.h"
#include "platform/descriptors.h"
#include "reply_files.h"
#include "socket_info_file.h"
#include "stop_signal.h"
#include "wire.h"

namespace korvane::standin {
namespace {

int fail(const std::string& message) {
  std::fprintf(stderr, "korvane-standin-app: %s\n", message.c_str());
  return 2;
}

// Loads everything the server answers from, so that a bad file fails before the ready line.
Outcome<ServerSetup> prepare(const Options& options) {
  ServerSetup setup;
  auto token = options.token ? Outcome<std::string>(*options.token) : random_token();
  if (!token) return error_text(token.error());
  setup.token = std::move(token).value();
  if (options.record_path) {
    setup.record_file.reset(::open(options.record_path->c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!setup.record_file.valid()) return error_text("open " + *options.record_path + ": " + os_error_text(errno));
  }
  if (options.replies_file) {
    auto text = read_whole_file(*options.replies_file);
    if (!text) return error_text(text.error());
    auto bodies = parse_reply_bodies(text.value());
    if (!bodies) return error_text(*options.replies_file + ": " + bodies.error());
    setup.replay_bodies = std::move(bodies).value();
  }
  if (options.body_file) {
    auto body = read_whole_file(*options.body_file);
    if (!body) return error_text(body.error());
    setup.body_file_reply = reply_head(200, body.value().size()) + body.value();
  }
  return setup;
}

// True when stdin has reached its end (or failed); other input is discarded.
bool stdin_ended() {
  char scratch[4096];
  ssize_t got;
  KORVANE_RETRY_EINTR(got, ::read(STDIN_FILENO, scratch, sizeof scratch));
  return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

void accept_one(int listener, AppServer& server) {
  UniqueFd connection = platform::accept_connection(listener, platform::Blocking::no);
  if (!connection.valid()) {
    // Out of descriptors: give the system a moment instead of spinning.
    if (errno == EMFILE || errno == ENFILE) ::poll(nullptr, 0, 10);
    return;
  }
  const int on = 1;
  ::setsockopt(connection.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  server.serve(std::move(connection));
}

// Serves connections until a stop signal (or the end of stdin, when asked to watch it).
void run(int listener, int stop_fd, bool watch_stdin, AppServer& server) {
  pollfd watched[3] = {{stop_fd, POLLIN, 0}, {listener, POLLIN, 0}, {watch_stdin ? STDIN_FILENO : -1, POLLIN, 0}};
  while (!stop_requested()) {
    int ready;
    KORVANE_RETRY_EINTR(ready, ::poll(watched, 3, -1));
    if (ready < 0 || stop_requested() || watched[0].revents != 0) return;
    if (watched[2].revents != 0 && stdin_ended()) return;
    if (watched[1].revents != 0) accept_one(listener, server);
  }
}

int main_with(const std::vector<std::string_view>& arguments) {
  auto options = parse_options(arguments);
  if (!options) {
    std::string_view usage = usage_text();
    usage.remove_suffix(1);
    return fail(options.error() + "\n" + std::string(usage));
  }
  if (options.value().help) {
    std::fputs(std::string(usage_text()).c_str(), stdout);
    return 0;
  }
  auto stop_fd = install_stop_signals();
  if (!stop_fd) return fail(stop_fd.error());
  auto setup = prepare(options.value());
  if (!setup) return fail(setup.error());
  const bool refuse = options.value().mode == Mode::refuse;
  auto bound = refuse && options.value().port == 0 ? reserve_refusing_port()
               : refuse                            ? Outcome<BoundSocket>(BoundSocket{UniqueFd(), options.value().port})
                                                   : listen_on_loopback(options.value().port);
  if (!bound) return fail(bound.error());
  auto path = resolve_socket_info_path(options.value().socket_info_path);
  if (!path) return fail(path.error());
  const std::uint16_t port = bound.value().port;
  if (auto published = publish_socket_info(path.value(), port, setup.value().token); !published) {
    return fail(published.error());
  }
  (void)write_all(STDOUT_FILENO, "ready " + std::to_string(port) + "\n");

  AppServer server(options.value(), std::move(setup).value(), stop_fd.value());
  run(refuse ? -1 : bound.value().socket.get(), stop_fd.value(), options.value().exit_on_stdin_eof, server);
  withdraw_socket_info(path.value());
  return 0;
}

}  // namespace
}  // namespace korvane::standin

int main(int argc, char** argv) {
  const std::vector<std::string_view> arguments(argv + 1, argv + argc);
  return korvane::standin::main_with(arguments);
}
