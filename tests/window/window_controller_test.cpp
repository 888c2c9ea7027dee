// The window's state and handlers, driven without a screen: recorded labels,
// a scripted dialog and a counting drop registration stand in for the widgets.
#include "app/window/window_controller.h"

#include <gtest/gtest.h>

#include <memory>

#include "window_test_support.h"

namespace linemint {
namespace {

using namespace linemint::testing;

class WindowControllerTest : public WindowTestBase {
 protected:
  void SetUp() override {
    WindowTestBase::SetUp();
    controller_ = std::make_unique<WindowController>();
    controller_->attach(&labels_, &dialog_);
  }

  void create() { controller_->onWindowCreated(drop_); }
  Captions captions() const { return labels_.captions(); }
  bool exists(const std::string& name) const { return fs::exists(fs::symlink_status(dir_ / name)); }

  RecordingLabels labels_;
  ScriptedDialog dialog_;
  CountingDropTarget drop_;
  std::unique_ptr<WindowController> controller_;
};

TEST_F(WindowControllerTest, CreationRunsOnce) {
  create();
  const platform::HeapHandle heap = controller_->privateHeap();
  const uint32_t sse2 = controller_->hasSse2();
  ASSERT_NE(heap, nullptr);
  EXPECT_EQ(sse2, platform::testSse2());
  platform::setSse2ForTesting(sse2 != 0 ? 0 : 0x4000000);
  create();
  EXPECT_EQ(controller_->privateHeap(), heap);
  EXPECT_EQ(controller_->hasSse2(), sse2);
  EXPECT_EQ(drop_.registrations, 1);
}

TEST_F(WindowControllerTest, ProcessAtOnceAfterStartWritesNothing) {
  create();
  controller_->onProcessClicked();
  expectCaptions(captions(), "", Status{0, 0}, "");
  EXPECT_TRUE(fs::is_empty(dir_));
}

class ImportCancelTest : public WindowControllerTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ImportCancelTest, ThenProcessWritesNothing) {
  const bool earlierLoad = GetParam();
  create();
  std::string shownAfter;  // 标签3 after the final process
  if (earlierLoad) {
    dialog_.choose(file("a.txt", "x\r\ny\r\nx\r\n"));
    controller_->onImportClicked();
    controller_->onProcessClicked();
    ASSERT_EQ(slurp(dir_ / "去重复_a.txt"), "x\r\ny\r\n");
    fs::remove(dir_ / "去重复_a.txt");
    shownAfter = path("去重复_a.txt");
  }
  const std::string statusBefore = captions().status;
  dialog_.cancel();
  controller_->onImportClicked();
  EXPECT_EQ(dialog_.fileNameWhenShown, "");  // the dialog opens with an empty name box
  EXPECT_TRUE(controller_->inputBytes().empty());
  EXPECT_EQ(captions().inputPath, "");
  EXPECT_EQ(captions().status, statusBefore);
  EXPECT_EQ(captions().outputPath, "");

  controller_->onProcessClicked();
  expectCaptions(captions(), "", Status{0, 0}, shownAfter);
  EXPECT_FALSE(exists("去重复_a.txt"));
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutEarlierLoad, ImportCancelTest, ::testing::Bool());

TEST_F(WindowControllerTest, DropWhileEarlierResultIsShown) {
  create();
  dialog_.choose(file("a.txt", "1\r\n1\r\n2\r\n"));
  controller_->onImportClicked();
  controller_->onProcessClicked();
  const std::string earlierStatus = captions().status;
  expectCaptions(captions(), path("a.txt"), Status{3, 2}, path("去重复_a.txt"));

  const std::string b = file("b.txt", "q\r\n\r\nq\r\nr");
  controller_->onFileDropped(b);
  EXPECT_EQ(captions().inputPath, b);
  EXPECT_EQ(captions().status, earlierStatus);
  EXPECT_EQ(captions().outputPath, "");

  controller_->onProcessClicked();
  expectCaptions(captions(), b, Status{4, 2}, path("去重复_b.txt"));
  EXPECT_EQ(slurp(dir_ / "去重复_b.txt"), "q\r\nr\r\n");
  EXPECT_EQ(slurp(dir_ / "去重复_a.txt"), "1\r\n2\r\n");
}

// Lines whose first byte is NUL all have the empty key. The shared table of
// the fallback stores it and keeps only the first such line; the fast table
// stores no empty key and would keep them all. So the output shows which
// variant ran.
TEST_F(WindowControllerTest, WithoutSse2EveryPassUsesTheFallback) {
  platform::setSse2ForTesting(0);
  platform::setCpuFeaturesForTesting({0x4000000, 0x100000, 1});  // the start-up probe says otherwise
  create();
  EXPECT_EQ(controller_->hasSse2(), 0u);
  EXPECT_EQ(controller_->variant(), PassVariant::fallback);

  const std::string in = file("nul.txt", std::string("\0a\r\n\0b\r\nc\r\n\0a\r\n", 14));
  controller_->onFileDropped(in);
  for (int pass = 0; pass < 2; ++pass) {
    controller_->onProcessClicked();
    expectCaptions(captions(), in, Status{4, 2}, path("去重复_nul.txt"));
    EXPECT_EQ(slurp(dir_ / "去重复_nul.txt"), std::string("\0a\r\nc\r\n", 7));
    EXPECT_TRUE(controller_->sharedTable().isCreated());
    EXPECT_EQ(controller_->fastTable().getBucketCount(), 0);
  }
}

TEST_F(WindowControllerTest, WithSse2TheFastVariantIsSelected) {
  platform::setSse2ForTesting(0x4000000);
  platform::setCpuFeaturesForTesting({0, 0, 0});
  create();
  EXPECT_EQ(controller_->hasSse2(), 0x4000000u);
  EXPECT_EQ(controller_->variant(), PassVariant::fast);
  const std::string in = file("a.txt", "b\r\na\r\nb\r\n");
  controller_->onFileDropped(in);
  controller_->onProcessClicked();
  expectCaptions(captions(), in, Status{3, 2}, path("去重复_a.txt"));
  EXPECT_EQ(slurp(dir_ / "去重复_a.txt"), "b\r\na\r\n");
}

TEST_F(WindowControllerTest, DropOfTwoFilesLoadsNothing) {
  create();
  const std::string a = file("a.txt", "x\r\n");
  const std::string b = file("b.txt", "y\r\n");
  const std::string text = a + "\r\n" + b + "\r\n";
  const std::string message = "一次只能处理一个文件，拖入了 2 个";
  controller_->onFileDropped(text);
  expectCaptions(captions(), text, std::nullopt, message);
  EXPECT_TRUE(controller_->inputBytes().empty());

  controller_->onProcessClicked();
  expectCaptions(captions(), text, Status{0, 0}, message);
  EXPECT_FALSE(exists("去重复_a.txt"));
  EXPECT_FALSE(exists("去重复_b.txt"));
}

TEST_F(WindowControllerTest, DropOfAFileWithCjkName) {
  create();
  const std::string in = file("数据 清单（一）.txt", "甲\r\n乙\r\n甲\r\n");
  controller_->onFileDropped(in);
  controller_->onProcessClicked();
  const std::string out = path("去重复_数据 清单（一）.txt");
  expectCaptions(captions(), in, Status{3, 2}, out);
  EXPECT_EQ(slurp(out), "甲\r\n乙\r\n");
}

TEST_F(WindowControllerTest, UnreadableInputIsReportedUntilTheNextLoad) {
  struct Case {
    const char* name;
    bool folder;
    const char* reason;
  };
  const Case cases[] = {
      {"missing.txt", false, "No such file or directory"},
      {"folder.txt", true, "Is a directory"},
  };
  create();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.folder) fs::create_directory(dir_ / c.name);
    const std::string in = path(c.name);
    const std::string message = "无法读取 " + in + "：" + c.reason;
    dialog_.choose(in);
    controller_->onImportClicked();
    expectCaptions(captions(), in, std::nullopt, message);
    controller_->onProcessClicked();
    expectCaptions(captions(), in, Status{0, 0}, message);
    EXPECT_FALSE(exists(std::string("去重复_") + c.name));

    // A good load afterwards clears the failure.
    const std::string good = file("good.txt", "g\r\n");
    controller_->onFileDropped(good);
    controller_->onProcessClicked();
    expectCaptions(captions(), good, Status{1, 1}, path("去重复_good.txt"));
    labels_ = RecordingLabels();
  }
}

TEST_F(WindowControllerTest, EmptyFileIsNotAnError) {
  create();
  for (const std::string bytes : {"", "z"}) {
    SCOPED_TRACE(bytes.size());
    const std::string in = file("small.txt", bytes);
    controller_->onFileDropped(in);
    expectCaptions(captions(), in, std::nullopt, "");
    controller_->onProcessClicked();
    expectCaptions(captions(), in, Status{0, 0}, path("去重复_small.txt"));
    EXPECT_FALSE(exists("去重复_small.txt"));
    labels_ = RecordingLabels();
  }
}

TEST_F(WindowControllerTest, OutputThatCannotBeWrittenIsReported) {
  struct Case {
    const char* what;
    void (*spoil)(const fs::path& folder);  // after the load, before the pass
    const char* reason;
  };
  const Case cases[] = {
      {"a folder has the output's name",
       [](const fs::path& folder) { fs::create_directory(folder / "去重复_a.txt"); }, "Is a directory"},
      {"the folder is gone", [](const fs::path& folder) { fs::remove_all(folder); },
       "No such file or directory"},
  };
  create();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path folder = dir_ / "in";
    fs::remove_all(folder);
    fs::create_directory(folder);
    const std::string in = (folder / "a.txt").string();
    spill(in, "k\r\nk\r\nm\r\n");
    controller_->onFileDropped(in);
    c.spoil(folder);
    controller_->onProcessClicked();
    const std::string out = (folder / "去重复_a.txt").string();
    expectCaptions(captions(), in, Status{3, 2}, "无法写入 " + out + "：" + c.reason);
    EXPECT_FALSE(fs::is_regular_file(out));
  }
}

TEST_F(WindowControllerTest, OutputNamingTheInputIsRefused) {
  create();
  const std::string in = file("a.txt", "d\r\nd\r\n");
  fs::create_symlink("a.txt", dir_ / "去重复_a.txt");
  controller_->onFileDropped(in);
  controller_->onProcessClicked();
  expectCaptions(captions(), in, std::nullopt, "未处理：" + path("去重复_a.txt") + " 就是输入文件，不能覆盖");
  EXPECT_EQ(slurp(in), "d\r\nd\r\n");
}

TEST_F(WindowControllerTest, ProcessTwiceWritesTheSameOutputAgain) {
  create();
  const std::string in = file("a.txt", "x\r\ny\r\nx\r\n\r\nz\r\ny\r\n");
  controller_->onFileDropped(in);
  controller_->onProcessClicked();
  expectCaptions(captions(), in, Status{6, 3}, path("去重复_a.txt"));
  EXPECT_EQ(slurp(dir_ / "去重复_a.txt"), "x\r\ny\r\nz\r\n");
  fs::remove(dir_ / "去重复_a.txt");
  controller_->onProcessClicked();
  expectCaptions(captions(), in, Status{6, 3}, path("去重复_a.txt"));
  EXPECT_EQ(slurp(dir_ / "去重复_a.txt"), "x\r\ny\r\nz\r\n");
}

TEST_F(WindowControllerTest, ExitReleasesInputPathAndTables) {
  platform::setSse2ForTesting(0);
  create();
  controller_->onFileDropped(file("a.txt", "x\r\n"));
  controller_->onProcessClicked();
  ASSERT_TRUE(controller_->sharedTable().isCreated());
  controller_->onExit();
  EXPECT_TRUE(controller_->inputBytes().empty());
  EXPECT_EQ(controller_->outputPath(), "");
  EXPECT_FALSE(controller_->sharedTable().isCreated());
  EXPECT_EQ(controller_->fastTable().getBucketCount(), 0);
}

}  // namespace
}  // namespace linemint
