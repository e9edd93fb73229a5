// The layers of docs/architecture.md hold in the code: every `#include "room/..."` that crosses
// from one folder of src/ to another follows an edge of the page's layer table, the table itself
// has no cycle, and conditionals on the operating system or on a platform feature stay in
// src/platform/.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace korvane {
namespace {

namespace fs = std::filesystem;

const fs::path kSourceDir = KORVANE_SOURCE_DIR;

std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

using LayerTable = std::map<std::string, std::set<std::string>>;

// The rows "| `src/room/` | what lives there | `room`, `room` |" of the page's layer table.
LayerTable layer_table(const std::string& page) {
  static const std::regex row(R"(^\| `src/([a-z_]+)/[^`]*` \|[^|]*\|([^|]*)\|\s*$)");
  static const std::regex room(R"(`([a-z_]+)`)");
  LayerTable table;
  std::istringstream lines(page);
  for (std::string line; std::getline(lines, line);) {
    std::smatch cells;
    if (!std::regex_match(line, cells, row)) continue;
    std::set<std::string>& uses = table[cells[1]];
    const std::string may_use = cells[2];
    for (std::sregex_iterator it(may_use.begin(), may_use.end(), room), end; it != end; ++it) uses.insert((*it)[1]);
  }
  return table;
}

struct SourceLine {
  std::string room;   // the folder of src/ the file is in
  std::string where;  // path:line
  std::string text;
};

std::vector<SourceLine> source_lines() {
  std::vector<SourceLine> lines;
  for (const auto& entry : fs::recursive_directory_iterator(kSourceDir / "src")) {
    const std::string extension = entry.path().extension().string();
    if (!entry.is_regular_file() ||
        (extension != ".h" && extension != ".cpp" && extension != ".inc" && extension != ".in")) {
      continue;
    }
    const fs::path relative = fs::relative(entry.path(), kSourceDir / "src");
    std::istringstream text(read_text(entry.path()));
    int number = 0;
    for (std::string line; std::getline(text, line);) {
      lines.push_back({relative.begin()->string(), relative.generic_string() + ":" + std::to_string(++number), line});
    }
  }
  return lines;
}

// Include edges the table does not allow, as "path:line: room -> room".
std::vector<std::string> edges_against(const LayerTable& table, const std::vector<SourceLine>& lines) {
  static const std::regex include(R"(^\s*#\s*include\s+"([a-z_]+)/)");
  std::vector<std::string> against;
  for (const SourceLine& line : lines) {
    std::smatch target;
    if (!std::regex_search(line.text, target, include) || target[1] == line.room) continue;
    if (!fs::is_directory(kSourceDir / "src" / target[1].str())) continue;
    const auto row = table.find(line.room);
    if (row == table.end() || !row->second.contains(target[1])) {
      against.push_back(line.where + ": " + line.room + " -> " + target[1].str());
    }
  }
  return against;
}

bool reaches(const LayerTable& table, const std::string& from, const std::string& to, std::set<std::string>& seen) {
  const auto row = table.find(from);
  if (row == table.end()) return false;
  for (const std::string& next : row->second) {
    if (next == to) return true;
    if (seen.insert(next).second && reaches(table, next, to, seen)) return true;
  }
  return false;
}

class Layers : public testing::Test {
 protected:
  const LayerTable table_ = layer_table(read_text(kSourceDir / "docs" / "architecture.md"));
  const std::vector<SourceLine> lines_ = source_lines();
};

TEST_F(Layers, EveryFolderHasARowAndTheTableHasNoCycle) {
  for (const auto& entry : fs::directory_iterator(kSourceDir / "src")) {
    if (entry.is_directory()) {
      EXPECT_TRUE(table_.contains(entry.path().filename().string())) << entry.path();
    }
  }
  for (const auto& [room, uses] : table_) {
    std::set<std::string> seen;
    EXPECT_FALSE(reaches(table_, room, room, seen)) << room << " reaches itself";
    for (const std::string& used : uses) {
      EXPECT_TRUE(table_.contains(used)) << room << " uses unknown " << used;
    }
  }
}

TEST_F(Layers, IncludesFollowTheTable) {
  ASSERT_FALSE(lines_.empty());
  for (const std::string& edge : edges_against(table_, lines_)) ADD_FAILURE() << edge << " is not in the layer table";
}

// The operating system is asked only in src/platform/, and so are the features the build found.
TEST_F(Layers, PlatformConditionalsStayInPlatform) {
  static const std::regex conditional(
      R"(^\s*#\s*(if|ifdef|ifndef|elif)\b.*\b(__APPLE__|__linux__|__GLIBC__|__MACH__|_WIN32|__FreeBSD__|__OpenBSD__|)"
      R"(__NetBSD__|_GNU_SOURCE|KORVANE_HAVE_[A-Z0-9_]+|SOCK_CLOEXEC|SOCK_NONBLOCK|MSG_NOSIGNAL|SO_NOSIGPIPE|)"
      R"(_CS_DARWIN_USER_TEMP_DIR|MADV_[A-Z_]+|MAP_HUGETLB|POLLRDHUP|EVFILT_[A-Z]+)\b)");
  for (const SourceLine& line : lines_) {
    if (line.room != "platform" && std::regex_search(line.text, conditional)) {
      ADD_FAILURE() << line.where << ": " << line.text;
    }
  }
}

// What the table rows say is read as meant: a row of the page's form and a made-up include
// against it are caught.
TEST(LayerTableReading, ReadsRowsAndCatchesAnEdgeAgainstThem) {
  const LayerTable table = layer_table(
      "| room | what | may use |\n| --- | --- | --- |\n| `src/json/` | the reader | `common`, `base` |\n"
      "| `src/common/` | helpers | `base` (and the C library) |\n");
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ(table.at("json"), (std::set<std::string>{"base", "common"}));
  EXPECT_EQ(table.at("common"), (std::set<std::string>{"base"}));
  const std::vector<SourceLine> lines = {{"common", "common/a.cpp:3", "#include \"json/reader.h\""},
                                         {"json", "json/b.cpp:1", "#include \"common/posix.h\""}};
  EXPECT_EQ(edges_against(table, lines), std::vector<std::string>{"common/a.cpp:3: common -> json"});
}

}  // namespace
}  // namespace korvane
