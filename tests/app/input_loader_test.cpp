#include "app/input_loader.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>

namespace linemint {
namespace {

namespace fs = std::filesystem;

TEST(OutputPathFor, PrefixGoesBeforeTheFileName) {
  const std::pair<std::string, std::string> cases[] = {
      {"/data/list.txt", "/data/去重复_list.txt"},
      {"/x.txt", "/去重复_x.txt"},
      {"x.txt", "去重复_x.txt"},  // no folder: the current one, never the input itself
      {"dir/去重复_a.txt", "dir/去重复_去重复_a.txt"},
      {"/目录/文件.txt", "/目录/去重复_文件.txt"},
      {"/a.b/c", "/a.b/去重复_c"},
      {"", "去重复_"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(outputPathFor(in), out) << in;
}

class RecordingLabels : public LabelSink {
 public:
  void setCaption(Label label, const std::string& text) override { captions[label] = text; }
  std::map<Label, std::string> captions;
};

class LoadInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("linemint-load-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string load(const std::string& content, LineEnd lineEnd) {
    const fs::path p = dir_ / "in.txt";
    std::ofstream(p, std::ios::binary) << content;
    platform::BigBuffer b;
    std::string out;
    EXPECT_FALSE(loadInput(p.string(), lineEnd, b, out, nullptr).failed());
    EXPECT_EQ(out, (dir_ / "去重复_in.txt").string());
    return std::string(reinterpret_cast<const char*>(b.data()), b.size());
  }
  fs::path dir_;
};

TEST_F(LoadInputTest, LineEndsAreNormalised) {
  struct Case { std::string in; LineEnd mode; std::string expected; const char* what; };
  const Case cases[] = {
      {"", LineEnd::crlf, "", "empty file"},
      {"a", LineEnd::crlf, "", "one byte counts as empty"},
      {"\r\n", LineEnd::crlf, "\r\n", "CR LF alone is kept"},
      {"a\n", LineEnd::crlf, "a\n\r\n", "LF alone gains CR LF"},
      {"a\r", LineEnd::crlf, "a\r\r\n", "CR alone gains CR LF"},
      {"a\nb\n", LineEnd::crlf, "a\nb\n\r\n", "LF file is one line"},
      {"a\r\nb", LineEnd::crlf, "a\r\nb\r\n", "missing final CR LF"},
      {"", LineEnd::lf, "", "empty file in LF mode"},
      {"a", LineEnd::lf, "a\n", "one byte is a line in LF mode"},
      {"a\nb\n", LineEnd::lf, "a\nb\n", "ends with LF"},
      {"a\r\n", LineEnd::lf, "a\r\n", "CR LF ends with LF too"},
      {"\n", LineEnd::lf, "\n", "one empty line"},
  };
  for (const Case& c : cases) EXPECT_EQ(load(c.in, c.mode), c.expected) << c.what;
}

TEST_F(LoadInputTest, LoadingTwiceGivesTheSameInput) {
  EXPECT_EQ(load("x\r\ny", LineEnd::crlf), load("x\r\ny", LineEnd::crlf));
}

TEST_F(LoadInputTest, MissingFileLoadsEmptyAndReportsWhy) {
  RecordingLabels labels;
  labels.captions[Label::outputPath] = "old";
  platform::BigBuffer b;
  b.append("stale", 5);
  std::string out = "previous";
  const std::string path = (dir_ / "missing.txt").string();
  const platform::IoError e = loadInput(path, LineEnd::crlf, b, out, &labels);
  EXPECT_EQ(e.code, ENOENT);
  EXPECT_EQ(e.path, path);
  EXPECT_EQ(b.size(), 0u);
  EXPECT_EQ(out, (dir_ / "去重复_missing.txt").string());
  EXPECT_EQ(labels.captions[Label::outputPath], "");
}

}  // namespace
}  // namespace linemint
