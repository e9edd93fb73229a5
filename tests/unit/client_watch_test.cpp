#include "platform/client_watch.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/unique_fd.h"

namespace korvane::platform {
namespace {

// Descriptors a test keeps open; the first is the one asked about.
using Descriptors = std::vector<UniqueFd>;

Descriptors pipe_pair() {
  int fds[2] = {-1, -1};
  EXPECT_EQ(::pipe(fds), 0);
  Descriptors pair;
  pair.emplace_back(fds[1]);  // the writing end first
  pair.emplace_back(fds[0]);
  return pair;
}

Descriptors socket_pair() {
  int fds[2] = {-1, -1};
  EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  Descriptors pair;
  pair.emplace_back(fds[0]);
  pair.emplace_back(fds[1]);
  return pair;
}

// The descriptor asked about, and what has to stay open meanwhile.
struct Subject {
  int fd;
  Descriptors open;
};

Subject first_of(Descriptors fds) {
  const int fd = fds.empty() ? -1 : fds[0].get();
  return {fd, std::move(fds)};
}

Subject with_peer_gone(Descriptors pair) {
  pair.pop_back();
  return first_of(std::move(pair));
}

Subject opened(const std::string& path, int flags) {
  Descriptors fds;
  fds.emplace_back(::open(path.c_str(), flags, 0600));
  return first_of(std::move(fds));
}

struct GoneCase {
  std::string label;
  std::function<Subject()> make;
  bool gone;
};

TEST(ReaderGone, OnlyWhenNobodyCanReadWhatIsWritten) {
  const std::string file = ::testing::TempDir() + "korvane-client-watch";
  const std::vector<GoneCase> cases = {
      {"pipe with its reader", [] { return first_of(pipe_pair()); }, false},
      {"pipe whose reader closed", [] { return with_peer_gone(pipe_pair()); }, true},
      {"socket whose peer stopped writing",
       [] {
         Descriptors pair = socket_pair();
         ::shutdown(pair[1].get(), SHUT_WR);
         return first_of(std::move(pair));
       },
       false},
      {"socket whose peer closed", [] { return with_peer_gone(socket_pair()); }, true},
      {"/dev/null", [] { return opened("/dev/null", O_WRONLY); }, false},
      {"regular file", [&file] { return opened(file, O_WRONLY | O_CREAT); }, false},
      {"closed descriptor",
       [] {
         return Subject{UniqueFd(::dup(STDERR_FILENO)).get(), {}};
       },
       false},
      {"no descriptor",
       [] {
         return Subject{-1, {}};
       },
       false},
  };
  for (const GoneCase& c : cases) {
    const Subject subject = c.make();
    EXPECT_EQ(reader_gone(subject.fd), c.gone) << c.label;
  }
  ::unlink(file.c_str());
}

TEST(WaitReady, ReadyAtOnceWhenThereIsSomethingToRead) {
  Descriptors pipe = pipe_pair();
  ASSERT_EQ(::write(pipe[0].get(), "x", 1), 1);
  const auto wake = wait_ready(pipe[1].get(), Io::read, pipe[0].get());
  ASSERT_TRUE(wake.ok()) << wake.error();
  EXPECT_EQ(wake.value(), Wake::ready);
}

// The descriptor never becomes ready; the watched pipe loses its reader: the wait ends soon.
TEST(WaitReady, EndsWhenTheWatchedReaderGoes) {
  Descriptors idle = pipe_pair();
  Descriptors watched = pipe_pair();
  watched.pop_back();
  const auto start = std::chrono::steady_clock::now();
  const auto wake = wait_ready(idle[1].get(), Io::read, watched[0].get());
  ASSERT_TRUE(wake.ok()) << wake.error();
  EXPECT_EQ(wake.value(), Wake::reader_gone);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
}  // namespace korvane::platform
