// The real window on the offscreen platform: clicks through QTest, drops as
// synthesized drag events, and the captions read back from the QLabels.
#include "app/window/main_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>
#include <vector>

#include "app/window/window_controller.h"
#include "window_test_support.h"

namespace linemint {
namespace {

using namespace linemint::testing;

// One QApplication for the whole test program.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "main_window_test";
    static char* argv[] = {name, nullptr};
    app_ = new QApplication(argc, argv);
  }
  void TearDown() override { delete app_; }

 private:
  QApplication* app_ = nullptr;
};
[[maybe_unused]] ::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

QString q(const std::string& utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }

class MainWindowTest : public WindowTestBase {
 protected:
  void SetUp() override {
    WindowTestBase::SetUp();
    open(&dialog_);
  }
  void TearDown() override {
    window_.reset();
    controller_.reset();
    WindowTestBase::TearDown();
  }

  // Starts afresh: a new controller and window; a null dialog is the real one.
  void open(FileDialog* dialog) {
    window_.reset();
    controller_ = std::make_unique<WindowController>();
    window_ = std::make_unique<MainWindow>(*controller_, dialog);
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  }

  template <typename W>
  W* child(const char* name) const {
    W* w = window_->findChild<W*>(QString::fromUtf8(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  Captions captions() const {
    return {child<QLabel>("标签1")->text().toStdString(), child<QLabel>("标签2")->text().toStdString(),
            child<QLabel>("标签3")->text().toStdString()};
  }
  void click(const char* button) { QTest::mouseClick(child<QPushButton>(button), Qt::LeftButton); }

  // Drags urls onto the window and drops them. Returns whether the window
  // accepted the drag and the drop.
  bool drop(const QList<QUrl>& urls) {
    QMimeData mime;
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(200, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window_.get(), &enter);
    QDropEvent dropped(QPointF(200, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window_.get(), &dropped);
    return enter.isAccepted() && dropped.isAccepted();
  }
  bool drop(const std::vector<std::string>& paths) {
    QList<QUrl> urls;
    for (const std::string& p : paths) urls.push_back(QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(p))));
    return drop(urls);
  }

  ScriptedDialog dialog_;
  std::unique_ptr<WindowController> controller_;
  std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowTest, ControlsAreWhereTheyBelong) {
  EXPECT_EQ(window_->objectName(), "MainWindow");
  EXPECT_EQ(window_->windowTitle(), q("Linemint   By：Tamsel"));
  // The frame's corner at 50, 50 and a 492 x 178 inside: without a window
  // manager (Xvfb) that is the whole window.
  EXPECT_EQ(window_->pos(), QPoint(50, 50));
  EXPECT_EQ(window_->size(), QSize(492, 178));
  EXPECT_TRUE(window_->acceptDrops());

  struct Control {
    const char* name;
    const char* container;
    QRect geometry;
    const char* caption;
  };
  const Control controls[] = {
      {"分组框1", "MainWindow", {8, 8, 408, 48}, "文本路径"},
      {"标签1", "分组框1", {16, 16, 384, 24}, ""},
      {"按钮2", "MainWindow", {424, 16, 56, 32}, "导入"},
      {"标签2", "MainWindow", {8, 72, 360, 24}, ""},
      {"按钮1", "MainWindow", {376, 72, 104, 64}, "处理重复数据"},
      {"标签3", "MainWindow", {8, 112, 360, 24}, ""},
  };
  for (const Control& c : controls) {
    SCOPED_TRACE(c.name);
    QWidget* w = child<QWidget>(c.name);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->parentWidget()->objectName(), q(c.container));
    EXPECT_EQ(w->geometry(), c.geometry);
    if (auto* box = qobject_cast<QGroupBox*>(w)) {
      EXPECT_EQ(box->title(), q(c.caption));
    }
    if (auto* button = qobject_cast<QPushButton*>(w)) {
      EXPECT_EQ(button->text(), q(c.caption));
    }
    if (auto* label = qobject_cast<QLabel*>(w)) {
      EXPECT_EQ(label->text(), q(c.caption));
      EXPECT_EQ(label->textFormat(), Qt::PlainText);  // a file name is never markup
    }
  }
}

TEST_F(MainWindowTest, CreationTestsSse2ForTheVariant) {
  const std::pair<uint32_t, PassVariant> cases[] = {{0, PassVariant::fallback}, {0x4000000, PassVariant::fast}};
  for (const auto& [sse2, variant] : cases) {
    platform::setSse2ForTesting(sse2);
    open(&dialog_);
    EXPECT_EQ(controller_->hasSse2(), sse2);
    EXPECT_EQ(controller_->variant(), variant);
    EXPECT_NE(controller_->privateHeap(), nullptr);
  }
}

TEST_F(MainWindowTest, ProcessAtOnceAfterStart) {
  click("按钮1");
  expectCaptions(captions(), "", Status{0, 0}, "");
  EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(MainWindowTest, ImportThenProcess) {
  const std::string in = file("list.txt", "b\r\na\r\n\r\nb\r\nc");
  dialog_.choose(in);
  click("按钮2");
  expectCaptions(captions(), in, std::nullopt, "");
  click("按钮1");
  expectCaptions(captions(), in, Status{5, 3}, path("去重复_list.txt"));
  EXPECT_EQ(slurp(dir_ / "去重复_list.txt"), "b\r\na\r\nc\r\n");
}

TEST_F(MainWindowTest, ImportCancelThenProcess) {
  dialog_.choose(file("a.txt", "x\r\nx\r\n"));
  click("按钮2");
  click("按钮1");
  fs::remove(dir_ / "去重复_a.txt");
  dialog_.cancel();
  click("按钮2");
  EXPECT_EQ(dialog_.fileNameWhenShown, "");
  EXPECT_EQ(captions().inputPath, "");
  EXPECT_EQ(captions().outputPath, "");
  click("按钮1");
  expectCaptions(captions(), "", Status{0, 0}, path("去重复_a.txt"));
  EXPECT_FALSE(fs::exists(dir_ / "去重复_a.txt"));
}

TEST_F(MainWindowTest, DropOfACjkNamedFileWhileAnEarlierResultIsShown) {
  ASSERT_TRUE(drop(std::vector<std::string>{file("a.txt", "1\r\n2\r\n1\r\n")}));
  click("按钮1");
  const std::string earlierStatus = captions().status;
  ASSERT_TRUE(isStatus(earlierStatus, {3, 2}));

  const std::string in = file("名单 二.txt", "张三\r\n李四\r\n张三\r\n");
  ASSERT_TRUE(drop(std::vector<std::string>{in}));
  EXPECT_EQ(captions().inputPath, in);
  EXPECT_EQ(captions().status, earlierStatus);
  EXPECT_EQ(captions().outputPath, "");

  click("按钮1");
  expectCaptions(captions(), in, Status{3, 2}, path("去重复_名单 二.txt"));
  EXPECT_EQ(slurp(dir_ / "去重复_名单 二.txt"), "张三\r\n李四\r\n");
}

TEST_F(MainWindowTest, DropOfTwoFiles) {
  const std::string a = file("a.txt", "x\r\n");
  const std::string b = file("b.txt", "y\r\n");
  ASSERT_TRUE(drop(std::vector<std::string>{a, b}));
  const std::string message = "一次只能处理一个文件，拖入了 2 个";
  expectCaptions(captions(), a + "\r\n" + b + "\r\n", std::nullopt, message);
  click("按钮1");
  expectCaptions(captions(), a + "\r\n" + b + "\r\n", Status{0, 0}, message);
  EXPECT_FALSE(fs::exists(dir_ / "去重复_a.txt"));
  EXPECT_FALSE(fs::exists(dir_ / "去重复_b.txt"));
}

TEST_F(MainWindowTest, DragsWithoutLocalFilesAreRefused) {
  EXPECT_FALSE(drop(QList<QUrl>{QUrl("https://example.org/list.txt")}));
  EXPECT_FALSE(drop(QList<QUrl>{}));
  expectCaptions(captions(), "", std::nullopt, "");
}

TEST_F(MainWindowTest, UnreadableFileThroughImport) {
  const std::string in = path("gone.txt");
  const std::string message = "无法读取 " + in + "：No such file or directory";
  dialog_.choose(in);
  click("按钮2");
  expectCaptions(captions(), in, std::nullopt, message);
  click("按钮1");
  expectCaptions(captions(), in, Status{0, 0}, message);
  EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(MainWindowTest, UnwritableOutputThroughProcess) {
  const std::string in = file("a.txt", "p\r\np\r\n");
  fs::create_directory(dir_ / "去重复_a.txt");
  ASSERT_TRUE(drop(std::vector<std::string>{in}));
  click("按钮1");
  expectCaptions(captions(), in, Status{2, 1}, "无法写入 " + path("去重复_a.txt") + "：Is a directory");
  EXPECT_TRUE(fs::is_empty(dir_ / "去重复_a.txt"));
}

TEST_F(MainWindowTest, ProcessTwice) {
  const std::string in = file("a.txt", "m\r\nn\r\nm\r\n");
  ASSERT_TRUE(drop(std::vector<std::string>{in}));
  for (int press = 0; press < 2; ++press) {
    fs::remove(dir_ / "去重复_a.txt");
    click("按钮1");
    expectCaptions(captions(), in, Status{3, 2}, path("去重复_a.txt"));
    EXPECT_EQ(slurp(dir_ / "去重复_a.txt"), "m\r\nn\r\n");
  }
}

// The real QFileDialog: while it runs modally, `answer` is given the dialog.
class RealDialogTest : public MainWindowTest {
 protected:
  void SetUp() override {
    WindowTestBase::SetUp();
    open(nullptr);
  }
  void importAnswering(std::function<void(QFileDialog*)> answer) {
    auto* poll = new QTimer(window_.get());
    QObject::connect(poll, &QTimer::timeout, [poll, answer] {
      if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
        poll->stop();
        answer(dialog);
      }
    });
    poll->start(10);
    click("按钮2");
    delete poll;
  }
};

TEST_F(RealDialogTest, ChooseThenCancel) {
  const std::string in = file("a.txt", "r\r\ns\r\nr\r\n");
  importAnswering([&](QFileDialog* dialog) {
    EXPECT_EQ(dialog->objectName(), q("通用对话框1"));
    EXPECT_EQ(dialog->nameFilters(), QStringList{q("文本数据 (*.txt)")});
    EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
    dialog->selectFile(q(in));
    QMetaObject::invokeMethod(dialog, "accept");  // as the Open button does
  });
  click("按钮1");
  expectCaptions(captions(), in, Status{3, 2}, path("去重复_a.txt"));
  EXPECT_EQ(slurp(dir_ / "去重复_a.txt"), "r\r\ns\r\n");

  importAnswering([&](QFileDialog* dialog) {
    // Opens in the last file's folder, with an empty file name.
    EXPECT_EQ(dialog->directory().absolutePath(), q(dir_.string()));
    auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->text(), "");
    dialog->reject();
  });
  EXPECT_EQ(captions().inputPath, "");
  EXPECT_EQ(captions().outputPath, "");
  EXPECT_TRUE(controller_->inputBytes().empty());
}

}  // namespace
}  // namespace linemint
