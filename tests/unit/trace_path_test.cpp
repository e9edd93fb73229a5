#include "diagnostics/trace_path.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures.h"
#include "platform/real_path.h"

namespace korvane::trace {
namespace {

using testing_support::TempDirTest;

constexpr uid_t kNobody = 65534;
constexpr uid_t kStranger = 65533;

struct FolderCase {
  const char* folders;  // made in turn under the test's folder, each inside the one before
  uid_t owner;          // of every folder made
  mode_t mode;
  const char* problem;  // a piece of the problem found, "" for none
};

// Who may own or write a folder on the way, judged for an ordinary user (nobody) in a child that
// drops root's privileges: root's folders and the user's own pass, another user's never, and a
// folder that others may write only when it is sticky.
const FolderCase kFolderCases[] = {
    {"mine", kNobody, 0700, ""},
    {"mine_sticky", kNobody, 01777, ""},
    {"roots", 0, 0755, ""},
    {"roots_sticky", 0, 01777, ""},
    {"mine_open", kNobody, 0777, "is writable by group or others and not sticky"},
    {"mine_group", kNobody, 0770, "is writable by group or others and not sticky"},
    {"roots_open", 0, 0757, "is writable by group or others and not sticky"},
    {"strangers", kStranger, 0755, "belongs to another user (uid 65533)"},
    {"strangers/mine", kStranger, 0755, "belongs to another user (uid 65533)"},
};

// The problem place_trace_file finds for each path, as the user `uid` (one line each).
std::vector<std::string> problems_as(uid_t uid, const std::vector<std::string>& paths) {
  int channel[2];
  if (::pipe(channel) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(channel[0]);
    if (::setgid(uid) != 0 || ::setuid(uid) != 0) ::_exit(2);
    std::string lines;
    for (const std::string& path : paths) lines += place_trace_file(path).problem + "\n";
    const bool whole = ::write(channel[1], lines.data(), lines.size()) == static_cast<ssize_t>(lines.size());
    ::_exit(whole ? 0 : 3);
  }
  ::close(channel[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t got; (got = ::read(channel[0], buffer, sizeof buffer)) > 0;) text.append(buffer, got);
  ::close(channel[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

class TracePlaceTest : public TempDirTest {};

TEST_F(TracePlaceTest, FoldersOnTheWayAreTheUsersOrRootsAndClosedToOthersUnlessSticky) {
  if (::geteuid() != 0) GTEST_SKIP() << "making folders of other users needs root";
  ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);  // the user must reach the folders under it
  std::vector<std::string> paths;
  for (const FolderCase& c : kFolderCases) {
    std::string folder = dir_;
    for (std::string rest = c.folders; !rest.empty();) {
      const std::size_t slash = rest.find('/');
      folder.append("/").append(rest, 0, slash);
      rest = slash == std::string::npos ? "" : rest.substr(slash + 1);
      if (::mkdir(folder.c_str(), 0700) != 0) continue;  // made by a case before
      ASSERT_EQ(::chown(folder.c_str(), c.owner, c.owner), 0) << folder;
      ASSERT_EQ(::chmod(folder.c_str(), c.mode), 0) << folder;
    }
    paths.push_back(folder + "/trace");
  }
  // A folder reached through a link is judged by its real path, wherever the link lies.
  ASSERT_EQ(::symlink((dir_ + "/mine").c_str(), (dir_ + "/mine_sticky/link").c_str()), 0);
  ASSERT_EQ(::symlink((dir_ + "/mine_open").c_str(), (dir_ + "/mine/link").c_str()), 0);
  paths.insert(paths.end(), {dir_ + "/mine_sticky/link/trace", dir_ + "/mine/link/trace"});
  const std::vector<std::string> problems = problems_as(kNobody, paths);
  ASSERT_EQ(problems.size(), paths.size());
  for (std::size_t i = 0; i < std::size(kFolderCases); ++i) {
    SCOPED_TRACE(kFolderCases[i].folders);
    const std::string wanted = kFolderCases[i].problem;
    if (wanted.empty()) {
      EXPECT_EQ(problems[i], "");
    } else {
      EXPECT_NE(problems[i].find(wanted), std::string::npos) << problems[i];
    }
  }
  EXPECT_EQ(problems[std::size(kFolderCases)], "");
  EXPECT_NE(problems.back().find("not sticky"), std::string::npos) << problems.back();
}

// The place is the folder's real path and the name as given; a name that is no file is refused.
TEST_F(TracePlaceTest, ResolvesTheFolderButNotTheName) {
  ASSERT_EQ(::mkdir((dir_ + "/real").c_str(), 0700), 0);
  ASSERT_EQ(::symlink((dir_ + "/real").c_str(), (dir_ + "/link").c_str()), 0);
  const std::string base = platform::real_path(dir_).value_or("?");
  EXPECT_EQ(place_trace_file(dir_ + "/link/../link/./t.jsonl").path, base + "/real/t.jsonl");
  EXPECT_EQ(place_trace_file(dir_ + "/link/name-link").path, base + "/real/name-link");
  for (const std::string& path : {dir_ + "/", dir_ + "/real/..", dir_ + "/none/t"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(place_trace_file(path).path, "");
    EXPECT_NE(place_trace_file(path).problem, "");
  }
}

}  // namespace
}  // namespace korvane::trace
