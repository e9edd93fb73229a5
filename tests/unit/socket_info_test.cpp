#include "bridge/socket_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "fixtures.h"
#include "json/shared/value.h"
#include "platform/temporary_directory.h"

namespace korvane {
namespace {

using namespace std::string_view_literals;
using testing_support::from_hex;
using testing_support::ScopedEnv;
using testing_support::TempDirTest;

TEST(SocketInfoVectors, DecodeEveryFile) {
  const auto vectors = testing_support::load_jsonl("socket-info.jsonl");
  ASSERT_EQ(vectors.size(), 600u);
  for (const auto& vector : vectors) {
    SCOPED_TRACE(vector.dump());
    const auto decoded = decode_socket_info(from_hex(vector["file_hex"].get<std::string>()));
    if (vector.contains("valid")) {
      ASSERT_FALSE(decoded.ok());
      EXPECT_EQ(decoded.error(), kAppNotRunning);
    } else {
      ASSERT_TRUE(decoded.ok()) << decoded.error();
      EXPECT_EQ(decoded.value().port, vector["port"].get<std::uint16_t>());
      EXPECT_EQ(decoded.value().token, vector["token"].get<std::string>());
    }
  }
}

// Tokens a request head cannot carry (any control character but tab) are refused, in either
// record form.
TEST(SocketInfoDecode, RejectsTokensTheHeadCannotCarry) {
  for (const auto file : {R"({"port":1,"token":"a\rb"})"sv, R"({"port":1,"token":"a\nX-Other: 1"})"sv,
                          R"({"port":1,"token":"a\u0000"})"sv, R"([1,"\r\n"])"sv, R"({"port":1,"token":"\u0001abc"})"sv,
                          R"({"port":1,"token":"abc\u001b[0m"})"sv, R"({"port":1,"token":"ab\u007f"})"sv,
                          "[1,\"ab\x7f\"]"sv, R"({"port":1,"token":"a\u001fb"})"sv}) {
    SCOPED_TRACE(file);
    const auto decoded = decode_socket_info(file);
    ASSERT_FALSE(decoded.ok());
    EXPECT_EQ(decoded.error(), kAppNotRunning);
  }
  EXPECT_TRUE(decode_socket_info(R"({"port":1,"token":"a\tb \u00e9\u0080~"})").ok());
}

struct PathCase {
  const char* name;
  std::optional<std::string> socket_info;
  std::optional<std::string> home;
  std::optional<std::string> tmpdir;
  std::string expected;
};

class SocketInfoPathTest : public testing::TestWithParam<PathCase> {};

TEST_P(SocketInfoPathTest, ChoosesPath) {
  const auto& param = GetParam();
  ScopedEnv env;
  env.set("KORVANE_SOCKET_INFO", param.socket_info).set("HOME", param.home).set("TMPDIR", param.tmpdir);
  EXPECT_EQ(socket_info_path(), param.expected);
  // The list --check shows names the same file first.
  const auto locations = socket_info_locations();
  const auto used = std::find_if(locations.begin(), locations.end(), [](const auto& l) { return l.path.has_value(); });
  ASSERT_NE(used, locations.end());
  EXPECT_EQ(*used->path, param.expected);
}

constexpr const char* kSuffix = ".config/korvane/socket-info.json";

INSTANTIATE_TEST_SUITE_P(
    Selection, SocketInfoPathTest,
    testing::Values(
        PathCase{"ExplicitWinsOverHome", "/run/app/info.json", "/home/u", "/t", "/run/app/info.json"},
        PathCase{"ExplicitVerbatim", " rel/info.json ", "/home/u", std::nullopt, " rel/info.json "},
        PathCase{"ExplicitEmpty", "", "/home/u", std::nullopt, ""},
        PathCase{"ExplicitNonAscii", "/tmp/caf\u00e9.json", "/home/u", std::nullopt, "/tmp/caf\u00e9.json"},
        PathCase{"ExplicitInvalidUtf8Ignored", "/tmp/\xff.json", "/home/u", std::nullopt,
                 std::string("/home/u/") + kSuffix},
        PathCase{"Home", std::nullopt, "/home/u", "/t", std::string("/home/u/") + kSuffix},
        PathCase{"HomeWithSlash", std::nullopt, "/home/u/", std::nullopt, std::string("/home/u/") + kSuffix},
        PathCase{"HomeRoot", std::nullopt, "/", std::nullopt, std::string("/") + kSuffix},
        PathCase{"HomeEmptyIsRelative", std::nullopt, "", "/t", kSuffix},
        PathCase{"HomeRawBytes", std::nullopt, "/h\xfe", std::nullopt, std::string("/h\xfe/") + kSuffix},
        PathCase{"TmpdirWhenNoHome", std::nullopt, std::nullopt, "/var/t", std::string("/var/t/") + kSuffix},
        PathCase{"TmpdirWithSlash", std::nullopt, std::nullopt, "/var/t/", std::string("/var/t/") + kSuffix},
        PathCase{"TmpdirEmptyIsRelative", std::nullopt, std::nullopt, "", kSuffix}),
    [](const testing::TestParamInfo<PathCase>& param_info) { return std::string(param_info.param.name); });

// Without the variables: the system's own per-user temporary directory where it names one, /tmp
// otherwise; the list --check shows holds that directory only where the system has one.
TEST(SocketInfoPath, FallsBackToTheSystemsTemporaryDirectoryOrSlashTmp) {
  ScopedEnv env;
  env.set("KORVANE_SOCKET_INFO", std::nullopt).set("HOME", std::nullopt).set("TMPDIR", std::nullopt);
  std::string base = platform::user_temporary_directory().value_or("/tmp");
  if (base.back() != '/') base += '/';
  EXPECT_EQ(socket_info_path(), base + kSuffix);
  const auto locations = socket_info_locations();
  const bool listed = std::any_of(locations.begin(), locations.end(),
                                  [](const auto& l) { return l.source == "per-user temporary directory"; });
  EXPECT_EQ(listed, platform::has_user_temporary_directory());
}

class SocketInfoFileTest : public TempDirTest {
 protected:
  std::string write_file(const std::string& relative, std::string_view content) {
    const std::filesystem::path path = std::filesystem::path(dir_) / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
  }
};

TEST_F(SocketInfoFileTest, ReadsExplicitFileBeforeDefault) {
  write_file(kSuffix, R"({"port":1111,"token":"home"})");
  const auto explicit_path = write_file("other.json", "{\"token\":\"t\",\"port\":2222}\n");
  ScopedEnv env;
  env.set("HOME", dir_).set("KORVANE_SOCKET_INFO", explicit_path);
  const auto info = read_socket_info();
  ASSERT_TRUE(info.ok()) << info.error();
  EXPECT_EQ(info.value().port, 2222);
  EXPECT_EQ(info.value().token, "t");
}

TEST_F(SocketInfoFileTest, ReadsDefaultWhenExplicitIsNotUtf8) {
  write_file(kSuffix, R"([3333,""])");
  ScopedEnv env;
  env.set("HOME", dir_).set("KORVANE_SOCKET_INFO", "\xc3(");
  const auto info = read_socket_info();
  ASSERT_TRUE(info.ok()) << info.error();
  EXPECT_EQ(info.value().port, 3333);
  EXPECT_EQ(info.value().token, "");
}

TEST_F(SocketInfoFileTest, UnreadableFilesAndPortZeroAreNotRunning) {
  write_file(kSuffix, R"({"port":1,"token":"x"})");
  const auto directory = std::filesystem::path(write_file("dir/placeholder", "")).parent_path().string();
  const std::vector<std::optional<std::string>> paths = {"",
                                                         dir_ + "/missing.json",
                                                         directory,
                                                         write_file("empty.json", ""),
                                                         write_file("bad.json", "{\"port\":1}x"),
                                                         write_file("port0.json", R"({"port":0,"token":"abc"})"),
                                                         write_file("port0-array.json", R"([0,""])")};
  for (const auto& path : paths) {
    SCOPED_TRACE(*path);
    ScopedEnv env;
    env.set("HOME", dir_).set("KORVANE_SOCKET_INFO", path);
    const auto info = read_socket_info();
    ASSERT_FALSE(info.ok());
    EXPECT_EQ(info.error(), kAppNotRunning);
  }
}

// /proc files (Linux) are regular files that report size 0 and hold more: reading stops at the
// bound even when fstat gives no warning, as it must for a file that grows while it is read.
TEST(WholeFile, ReadingStopsAtTheBoundWhateverTheSizeSaid) {
  if (!std::filesystem::exists("/proc/self/status")) GTEST_SKIP() << "no /proc on this system";
  const WholeFile small = read_whole_file("/proc/self/status", FileRules{64, false});
  EXPECT_EQ(small.verdict, FileVerdict::kTooLarge);
  EXPECT_EQ(small.size, 0u);
  EXPECT_TRUE(small.content.empty());
  const WholeFile whole = read_whole_file("/proc/self/status", FileRules{});
  EXPECT_EQ(whole.verdict, FileVerdict::kRead);
  EXPECT_GT(whole.content.size(), 64u);
}

}  // namespace
}  // namespace korvane
