#include "fixtures.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "common/posix.h"

namespace korvane::testing_support {
namespace {

// Binds the socket to 127.0.0.1 on a port the system picks, listens if asked, and returns the port.
std::uint16_t bind_loopback(int socket, bool listening) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(socket, reinterpret_cast<sockaddr*>(&address), length) != 0 || (listening && ::listen(socket, 1) != 0) ||
      ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ADD_FAILURE() << "loopback socket: " << os_error_text(errno);
  }
  return ntohs(address.sin_port);
}

}  // namespace

ScopedEnv& ScopedEnv::set(const char* name, const std::optional<std::string>& value) {
  const char* old = std::getenv(name);
  saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
  if (value) {
    ::setenv(name, value->c_str(), 1);
  } else {
    ::unsetenv(name);
  }
  return *this;
}

ScopedEnv::~ScopedEnv() {
  for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
    if (it->second) {
      ::setenv(it->first, it->second->c_str(), 1);
    } else {
      ::unsetenv(it->first);
    }
  }
}

RefusingPort::RefusingPort() : socket_(platform::open_tcp_socket(platform::Blocking::yes)) {
  port_ = bind_loopback(socket_.get(), /*listening=*/false);
}

OneShotApp::OneShotApp(std::string reply, bool hang_up_at_once, std::chrono::microseconds pause)
    : pause_(pause),
      listener_(platform::open_tcp_socket(platform::Blocking::yes)),
      wake_(platform::open_pipe(platform::Blocking::yes)) {
  if (!wake_) ADD_FAILURE() << "pipe: " << os_error_text(errno);
  port_ = bind_loopback(listener_.get(), /*listening=*/true);
  server_ = std::thread([this, reply = std::move(reply), hang_up_at_once] { serve(reply, hang_up_at_once); });
}

OneShotApp::~OneShotApp() { finish(); }

const std::string& OneShotApp::finish() {
  // Ends a wait for a client that never comes (shutdown(2) on a listener does not, on macOS).
  if (wake_) wake_->write_end.reset();
  if (server_.joinable()) server_.join();
  return request_;
}

std::string OneShotApp::finish_body() {
  const std::string& request = finish();
  const std::size_t head_end = request.find("\r\n\r\n");
  return head_end == std::string::npos ? std::string() : request.substr(head_end + 4);
}

void OneShotApp::serve(const std::string& reply, bool hang_up_at_once) {
  sigset_t timer_signal;  // interruptions are meant for the caller's thread only
  sigemptyset(&timer_signal);
  sigaddset(&timer_signal, SIGALRM);
  ::pthread_sigmask(SIG_BLOCK, &timer_signal, nullptr);
  pollfd watched[2] = {{listener_.get(), POLLIN, 0}, {wake_ ? wake_->read_end.get() : -1, POLLIN, 0}};
  int ready = 0;
  KORVANE_RETRY_EINTR(ready, ::poll(watched, 2, -1));
  if (ready <= 0 || (watched[0].revents & POLLIN) == 0) return;  // woken without a client
  const UniqueFd client = platform::accept_connection(listener_.get(), platform::Blocking::yes);
  if (!client.valid()) return;
  if (hang_up_at_once) {
    const linger reset{1, 0};  // close with RST
    ::setsockopt(client.get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  } else {
    read_request(client.get());
    send_reply(client.get(), reply);
  }
}

void OneShotApp::read_request(int client) {
  char chunk[4096];
  for (;;) {
    const std::size_t head_end = request_.find("\r\n\r\n");
    if (head_end != std::string::npos) {
      const std::size_t length_at = request_.find("Content-Length: ");
      const std::size_t body_length = std::stoul(request_.substr(length_at + 16));
      if (request_.size() >= head_end + 4 + body_length) return;
    }
    const ssize_t count = ::recv(client, chunk, sizeof chunk, 0);
    if (count <= 0) return;
    request_.append(chunk, static_cast<std::size_t>(count));
  }
}

void OneShotApp::send_reply(int client, std::string_view reply) const {
  const std::size_t piece = pause_.count() == 0 ? reply.size() : 64;
  for (std::size_t at = 0; at < reply.size(); at += piece) {
    if (at > 0) std::this_thread::sleep_for(pause_);
    platform::send_no_sigpipe(client, reply.data() + at, std::min(piece, reply.size() - at));
  }
}

}  // namespace korvane::testing_support
