#include "platform/descriptors.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <string>

namespace korvane::platform {
namespace {

bool close_on_exec(int fd) { return (::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0; }
bool non_blocking(int fd) { return (::fcntl(fd, F_GETFL) & O_NONBLOCK) != 0; }

// A listening loopback socket (non-blocking, as the stand-in app's) and a client connected to it.
struct Connected {
  UniqueFd listener = open_tcp_socket(Blocking::no);
  UniqueFd client = open_tcp_socket(Blocking::yes);

  Connected() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    EXPECT_EQ(::bind(listener.get(), raw, length), 0);
    EXPECT_EQ(::listen(listener.get(), 1), 0);
    EXPECT_EQ(::getsockname(listener.get(), raw, &length), 0);
    EXPECT_EQ(::connect(client.get(), raw, length), 0);
  }
};

// Every descriptor is close-on-exec and blocks exactly as asked, whatever the platform does by
// default (an accepted socket inherits the listener's O_NONBLOCK on macOS, not on Linux).
class Descriptors : public testing::TestWithParam<Blocking> {};

TEST_P(Descriptors, AreCloseOnExecAndBlockAsAsked) {
  const bool want_non_blocking = GetParam() == Blocking::no;
  const auto pipe = open_pipe(GetParam());
  ASSERT_TRUE(pipe.has_value());
  Connected connected;
  const UniqueFd accepted = accept_connection(connected.listener.get(), GetParam());
  ASSERT_TRUE(accepted.valid()) << errno;
  const UniqueFd socket = open_tcp_socket(GetParam());
  for (const int fd : {pipe->read_end.get(), pipe->write_end.get(), accepted.get(), socket.get()}) {
    SCOPED_TRACE(fd);
    EXPECT_TRUE(close_on_exec(fd));
    EXPECT_EQ(non_blocking(fd), want_non_blocking);
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, Descriptors, testing::Values(Blocking::yes, Blocking::no));

// Both ways to send: one buffer, and two parts gathered into one send.
struct SendWay {
  const char* name;
  ssize_t (*send)(int socket, const std::string& bytes);
};

ssize_t send_whole(int socket, const std::string& bytes) { return send_no_sigpipe(socket, bytes.data(), bytes.size()); }

ssize_t send_halves(int socket, const std::string& bytes) {
  const std::size_t half = bytes.size() / 2;
  const iovec parts[] = {{const_cast<char*>(bytes.data()), half},
                         {const_cast<char*>(bytes.data() + half), bytes.size() - half}};
  return send_no_sigpipe(socket, parts);
}

class SendNoSigpipe : public testing::TestWithParam<SendWay> {};

// The bytes arrive whole and in order.
TEST_P(SendNoSigpipe, DeliversTheBytesInOrder) {
  Connected connected;
  const UniqueFd accepted = accept_connection(connected.listener.get(), Blocking::yes);
  ASSERT_TRUE(accepted.valid());
  const std::string bytes = "0123456789abcdefghijklmnopqrstuvwxyz";
  ASSERT_EQ(GetParam().send(connected.client.get(), bytes), static_cast<ssize_t>(bytes.size()));
  std::string received(bytes.size(), '\0');
  ASSERT_EQ(::recv(accepted.get(), received.data(), received.size(), MSG_WAITALL), static_cast<ssize_t>(bytes.size()));
  EXPECT_EQ(received, bytes);
}

// A send to a peer that has gone fails with EPIPE (or a reset) instead of ending the process,
// and leaves no SIGPIPE pending or blocked behind it.
TEST_P(SendNoSigpipe, ToAClosedPeerFailsWithoutTheSignal) {
  struct sigaction previous {};
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  ::sigaction(SIGPIPE, &defaults, &previous);
  Connected connected;
  UniqueFd accepted = accept_connection(connected.listener.get(), Blocking::yes);
  ASSERT_TRUE(accepted.valid());
  accepted.reset();
  const std::string bytes(64 * 1024, 'x');
  ssize_t sent = 0;
  for (int round = 0; round < 100 && sent >= 0; ++round) sent = GetParam().send(connected.client.get(), bytes);
  const int error = errno;
  sigset_t pending, blocked;
  ::sigpending(&pending);
  ::pthread_sigmask(SIG_BLOCK, nullptr, &blocked);
  ::sigaction(SIGPIPE, &previous, nullptr);
  EXPECT_LT(sent, 0);
  EXPECT_TRUE(error == EPIPE || error == ECONNRESET) << error;
  EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
  EXPECT_EQ(sigismember(&blocked, SIGPIPE), 0);
}

INSTANTIATE_TEST_SUITE_P(Ways, SendNoSigpipe,
                         testing::Values(SendWay{"Whole", send_whole}, SendWay{"Gathered", send_halves}),
                         [](const testing::TestParamInfo<SendWay>& param_info) {
                           return std::string(param_info.param.name);
                         });

}  // namespace
}  // namespace korvane::platform
