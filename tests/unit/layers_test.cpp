// The layers of docs/architecture.md hold in the code: every `#include "room/..."` that crosses
// from one folder of src/ to another follows an edge of the page's layer table, the table itself
// has no cycle, and conditionals on the operating system or on a platform feature stay in
// src/platform/. The rooms of src/json/ (json/read, ...) are rooms of their own, and from outside
// src/json/ only each one's door (the header its row names) is included.
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
using Doors = std::map<std::string, std::string>;  // room -> the one header included from outside src/json/

// A room's name from a path below src/ or an include: its first folder, or "json/<folder>".
std::string room_of(const std::string& path) {
  const std::size_t first = path.find('/');
  if (path.compare(0, first, "json") != 0 || first == std::string::npos) return path.substr(0, first);
  return path.substr(0, path.find('/', first + 1));
}

// The rows "| `src/room/` | what lives there | `room`, `room` |" of the page's layer table; a
// room of src/json/ names its door in its second cell as "door `json/room/file.h`".
const std::regex kRow(R"(^\| `src/(json/[a-z_]+|[a-z_]+)/[^`]*` \|([^|]*)\|([^|]*)\|\s*$)");

LayerTable layer_table(const std::string& page, Doors* doors = nullptr) {
  static const std::regex room(R"(`([a-z_/]+)`)");
  static const std::regex door(R"(door `([a-z_/.]+)`)");
  LayerTable table;
  std::istringstream lines(page);
  for (std::string line; std::getline(lines, line);) {
    std::smatch cells;
    if (!std::regex_match(line, cells, kRow)) continue;
    std::set<std::string>& uses = table[cells[1]];
    const std::string what = cells[2], may_use = cells[3];
    for (std::sregex_iterator it(may_use.begin(), may_use.end(), room), end; it != end; ++it) uses.insert((*it)[1]);
    if (std::smatch named; doors != nullptr && std::regex_search(what, named, door)) (*doors)[cells[1]] = named[1];
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
      lines.push_back(
          {room_of(relative.generic_string()), relative.generic_string() + ":" + std::to_string(++number), line});
    }
  }
  return lines;
}

// Include edges the table does not allow, as "path:line: room -> room", and includes of a json
// room's private headers from outside src/json/, as "path:line: room -> header, not the door
// <door>".
std::vector<std::string> edges_against(const LayerTable& table, const std::vector<SourceLine>& lines,
                                       const Doors& doors = {}) {
  static const std::regex include(R"re(^\s*#\s*include\s+"([a-z_]+/[^"]+)")re");
  std::vector<std::string> against;
  for (const SourceLine& line : lines) {
    std::smatch included;
    if (!std::regex_search(line.text, included, include)) continue;
    const std::string path = included[1], target = room_of(path);
    if (target == line.room || !fs::is_directory(kSourceDir / "src" / path.substr(0, path.find('/')))) continue;
    const auto row = table.find(line.room);
    if (row == table.end() || !row->second.contains(target)) {
      against.push_back(line.where + ": " + line.room + " -> " + target);
    } else if (const auto door = doors.find(target);
               door != doors.end() && door->second != path && line.room.rfind("json/", 0) != 0) {
      against.push_back(line.where + ": " + line.room + " -> " + path + ", not the door " + door->second);
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
  Doors doors_;
  const LayerTable table_ = layer_table(read_text(kSourceDir / "docs" / "architecture.md"), &doors_);
  const std::vector<SourceLine> lines_ = source_lines();
};

TEST_F(Layers, EveryFolderHasARowAndTheTableHasNoCycle) {
  for (const auto& entry : fs::directory_iterator(kSourceDir / "src")) {
    if (entry.is_directory() && entry.path().filename() != "json") {
      EXPECT_TRUE(table_.contains(entry.path().filename().string())) << entry.path();
    }
  }
  for (const auto& entry : fs::directory_iterator(kSourceDir / "src" / "json")) {
    const std::string room = "json/" + entry.path().filename().string();
    EXPECT_TRUE(entry.is_directory() && table_.contains(room)) << entry.path() << " is in no room of src/json/";
    EXPECT_TRUE(!doors_.contains(room) || fs::is_regular_file(kSourceDir / "src" / doors_.at(room))) << room;
  }
  EXPECT_EQ(doors_.size(), 4u) << "each room of src/json/ names its door";
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
  for (const std::string& edge : edges_against(table_, lines_, doors_)) {
    ADD_FAILURE() << edge << ": against the layer table";
  }
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
  Doors doors;
  const LayerTable table = layer_table(
      "| room | what | may use |\n| --- | --- | --- |\n"
      "| `src/json/read/` | door `json/read/reader.h`: the reader | `common`, `base` |\n"
      "| `src/common/` | helpers | `base` (and the C library) |\n| `src/bridge/` | the bridge | `json/read` |\n",
      &doors);
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table.at("json/read"), (std::set<std::string>{"base", "common"}));
  EXPECT_EQ(table.at("common"), (std::set<std::string>{"base"}));
  EXPECT_EQ(doors, (Doors{{"json/read", "json/read/reader.h"}}));
  const std::vector<SourceLine> lines = {{"common", "common/a.cpp:3", "#include \"json/read/reader.h\""},
                                         {"json/read", "json/read/b.cpp:1", "#include \"common/posix.h\""},
                                         {"bridge", "bridge/c.cpp:2", "#include \"json/read/reader.h\""},
                                         {"bridge", "bridge/c.cpp:3", "#include \"json/read/cursor.h\""}};
  EXPECT_EQ(
      edges_against(table, lines, doors),
      (std::vector<std::string>{"common/a.cpp:3: common -> json/read",
                                "bridge/c.cpp:3: bridge -> json/read/cursor.h, not the door json/read/reader.h"}));
}

}  // namespace
}  // namespace korvane
