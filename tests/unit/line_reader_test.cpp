#include "common/line_reader.h"

#include <sys/ioctl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "common/posix.h"
#include "platform/descriptors.h"

namespace korvane {
namespace {

constexpr std::size_t kLongLine = 1024 * 1024;  // the reader keeps no more than this between lines

struct SplitCase {
  const char* name;
  std::vector<std::string> chunks;  // each arrives in a read of its own
  std::vector<std::string> lines;   // what the reader gives before it reports the end
  platform::Blocking blocking = platform::Blocking::yes;
};

// Waits until the reader has taken everything written so far, so the next chunk is a new read,
// or has stopped reading.
void wait_until_drained(int read_end, const std::atomic<bool>& reader_done) {
  for (int waited = 0; waited < 10000 && !reader_done; ++waited) {
    int pending = 0;
    if (::ioctl(read_end, FIONREAD, &pending) != 0 || pending == 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

std::vector<std::string> read_all(const SplitCase& test) {
  auto pipe = platform::open_pipe(platform::Blocking::yes);
  EXPECT_TRUE(pipe.has_value());
  if (!pipe) return {};
  if (test.blocking == platform::Blocking::no) {
    EXPECT_TRUE(platform::set_nonblocking(pipe->read_end.get()));
  }
  std::atomic<bool> reader_done = false;
  std::thread writer([&] {
    for (const auto& chunk : test.chunks) {
      EXPECT_TRUE(write_all(pipe->write_end.get(), chunk).ok());
      wait_until_drained(pipe->read_end.get(), reader_done);
    }
    pipe->write_end.reset();
  });
  LineReader reader(pipe->read_end.get());
  std::vector<std::string> lines;
  for (;;) {
    const NextLine next = reader.next_line();
    EXPECT_NE(next.kind, NextLine::Kind::too_long);
    if (next.kind != NextLine::Kind::line) break;
    lines.emplace_back(next.text);
    // A long line's memory is given back once the reader moves on.
    if (lines.size() > 1 && lines[lines.size() - 2].size() > kLongLine) {
      EXPECT_LE(reader.assembly_capacity(), kLongLine);
    }
  }
  reader_done = true;
  writer.join();
  return lines;
}

const std::string kBig(3 * kLongLine, 'x');
const std::string kSpan(20000, 'y');  // longer than one read of the reader

const SplitCase kSplitCases[] = {
    {"CrAndLfInSeparateReads", {"first\r", "\nsecond\r", "\n"}, {"first", "second"}},
    {"LfAloneEndsTheLine", {"a\n", "\n", "b\r\n"}, {"a", "", "b"}},
    {"LineSpanningManyReads",
     {kSpan.substr(0, 9000), kSpan.substr(9000, 9000), kSpan.substr(18000), "\r\nnext\n"},
     {kSpan, "next"}},
    {"LongLineThenShortOnes", {kBig, "\nshort\n", "again\n"}, {kBig, "short", "again"}},
    {"LastLineWithoutLineEnd", {"one\n", "tw", "o"}, {"one", "two"}},
    {"MultibyteCharacterSplitAcrossReads", {"caf\xc3", "\xa9\n"}, {"caf\xc3\xa9"}},
    {"InvalidUtf8EndsInput", {"ok\n", "bad\xff\n", "unread\n"}, {"ok"}},
    {"TruncatedSequenceAtEndOfInput", {"ok\n", "caf\xc3"}, {"ok"}},
    {"EmptyInput", {}, {}},
    {"NonBlockingInputResumesAfterEagain",
     {"par", "tial\n", "rest\r", "\n"},
     {"partial", "rest"},
     platform::Blocking::no},
    {"NonBlockingLongLine", {kBig.substr(0, 70000), kBig.substr(70000), "\n"}, {kBig}, platform::Blocking::no},
};

class LineReaderSplit : public testing::TestWithParam<SplitCase> {};

TEST_P(LineReaderSplit, GivesTheSameLinesWhateverTheReads) {
  const auto lines = read_all(GetParam());
  ASSERT_EQ(lines.size(), GetParam().lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_TRUE(lines[i] == GetParam().lines[i]) << "line " << i << " differs (" << lines[i].size() << " bytes)";
  }
}

INSTANTIATE_TEST_SUITE_P(Reads, LineReaderSplit, testing::ValuesIn(kSplitCases),
                         [](const testing::TestParamInfo<SplitCase>& param_info) {
                           return std::string(param_info.param.name);
                         });

}  // namespace
}  // namespace korvane
