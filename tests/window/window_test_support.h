// Helpers shared by the window tests: a scratch folder, file bytes, the three
// captions, and scripted stand-ins for the dialog and the drop registration.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>

#include "app/labels.h"
#include "app/window/window_seams.h"
#include "platform/cpu_features.h"
#include "platform/heap.h"

namespace linemint::testing {

namespace fs = std::filesystem;

inline std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void spill(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

// The three captions as they stand.
struct Captions {
  std::string inputPath;   // 标签1
  std::string status;      // 标签2
  std::string outputPath;  // 标签3
};

// What 标签2 should show after a pass: the two counts (the time varies).
struct Status {
  uint64_t read;
  uint64_t kept;
};

// "耗时：" <digits> " ms 总行数：" read "  去重复剩余：" kept, exactly.
inline ::testing::AssertionResult isStatus(const std::string& text, Status s) {
  const std::string head = "耗时：";
  const std::string tail = " ms 总行数：" + std::to_string(s.read) + "  去重复剩余：" + std::to_string(s.kept);
  if (text.size() > head.size() + tail.size() && text.compare(0, head.size(), head) == 0 &&
      text.compare(text.size() - tail.size(), tail.size(), tail) == 0) {
    const std::string ms = text.substr(head.size(), text.size() - head.size() - tail.size());
    if (ms.find_first_not_of("0123456789") == std::string::npos) return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "status \"" << text << "\" is not " << s.read << " read, " << s.kept
                                       << " kept";
}

// Checks all three captions; a missing status means 标签2 is still empty.
inline void expectCaptions(const Captions& c, const std::string& inputPath, std::optional<Status> status,
                           const std::string& outputPath) {
  EXPECT_EQ(c.inputPath, inputPath) << "标签1";
  if (status) {
    EXPECT_TRUE(isStatus(c.status, *status)) << "标签2";
  } else {
    EXPECT_EQ(c.status, "") << "标签2";
  }
  EXPECT_EQ(c.outputPath, outputPath) << "标签3";
}

class RecordingLabels : public LabelSink {
 public:
  void setCaption(Label label, const std::string& text) override { captions_[label] = text; }
  Captions captions() const {
    auto at = [&](Label l) {
      auto it = captions_.find(l);
      return it == captions_.end() ? std::string() : it->second;
    };
    return {at(Label::inputPath), at(Label::status), at(Label::outputPath)};
  }

 private:
  std::map<Label, std::string> captions_;
};

// A dialog that gives the answers it was told to, in order: a path for a
// chosen file, nullopt for a cancel. With no answer left it cancels.
class ScriptedDialog : public FileDialog {
 public:
  void choose(const std::string& path) { answers_.push_back(path); }
  void cancel() { answers_.push_back(std::nullopt); }

  void setFileName(const std::string& name) override { fileName_ = name; }
  bool show() override {
    ++shown;
    fileNameWhenShown = fileName_;
    if (answers_.empty()) return false;
    const std::optional<std::string> answer = answers_.front();
    answers_.pop_front();
    if (!answer) return false;
    fileName_ = *answer;
    return true;
  }
  std::string fileName() const override { return fileName_; }

  int shown = 0;
  std::string fileNameWhenShown;

 private:
  std::deque<std::optional<std::string>> answers_;
  std::string fileName_ = "stale-name-from-before.txt";
};

class CountingDropTarget : public DropTarget {
 public:
  bool registerDropTarget() override { return ++registrations == 1; }
  int registrations = 0;
};

// A fresh folder per test (tests run in parallel), with the process-wide
// start-up done and the processor seams restored afterwards.
class WindowTestBase : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::probeCpuFeatures();
    platform::resolveHeapEntryPoints();
    savedFeatures_ = platform::cpuFeatures;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "-" + info->name();
    for (char& ch : name) {
      if (ch == '/') ch = '_';
    }
    dir_ = fs::temp_directory_path() / ("linemint-window-" + name);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    platform::setSse2ForTesting(std::nullopt);
    platform::setCpuFeaturesForTesting(savedFeatures_);
    std::error_code ignored;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(dir_, ignored);
  }

  // Writes a file in the test's folder and returns its path.
  std::string file(const std::string& name, const std::string& bytes) {
    spill(dir_ / name, bytes);
    return (dir_ / name).string();
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;

 private:
  platform::CpuFeatures savedFeatures_{};
};

}  // namespace linemint::testing
