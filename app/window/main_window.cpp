#include "app/window/main_window.h"

#include <vector>

#include <QApplication>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

#include "app/window/drop_text.h"
#include "app/window/qt_file_dialog.h"
#include "app/window/window_controller.h"

namespace linemint {

namespace {

// The paths of the local files in a drag, as the system's bytes. Anything
// that is not a local file (a web address, plain text) is left out.
std::vector<std::string> localPaths(const QMimeData* mime) {
  std::vector<std::string> paths;
  if (mime == nullptr || !mime->hasUrls()) return paths;
  for (const QUrl& url : mime->urls()) {
    if (!url.isLocalFile()) continue;
    const QString path = url.toLocalFile();
    if (!path.isEmpty()) paths.push_back(QFile::encodeName(path).toStdString());
  }
  return paths;
}

QLabel* makeLabel(QWidget* parent, const char* name, QRect geometry) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromUtf8(name));
  label->setTextFormat(Qt::PlainText);
  label->setGeometry(geometry);
  return label;
}

QPushButton* makeButton(QWidget* parent, const char* name, const char* caption, QRect geometry) {
  auto* button = new QPushButton(QString::fromUtf8(caption), parent);
  button->setObjectName(QString::fromUtf8(name));
  button->setGeometry(geometry);
  return button;
}

}  // namespace

MainWindow::MainWindow(WindowController& controller, FileDialog* dialog, QWidget* parent)
    : QWidget(parent), controller_(controller) {
  setObjectName(QStringLiteral("MainWindow"));
  setWindowTitle(QStringLiteral("Linemint   By：Tamsel"));
  // Without a window manager the frame is the window itself, 492 x 178.
  setFixedSize(492, 178);
  move(50, 50);

  groupBox_ = new QGroupBox(QStringLiteral("文本路径"), this);
  groupBox_->setObjectName(QStringLiteral("分组框1"));
  groupBox_->setGeometry(8, 8, 408, 48);
  inputPathLabel_ = makeLabel(groupBox_, "标签1", QRect(16, 16, 384, 24));
  importButton_ = makeButton(this, "按钮2", "导入", QRect(424, 16, 56, 32));
  statusLabel_ = makeLabel(this, "标签2", QRect(8, 72, 360, 24));
  processButton_ = makeButton(this, "按钮1", "处理重复数据", QRect(376, 72, 104, 64));
  outputPathLabel_ = makeLabel(this, "标签3", QRect(8, 112, 360, 24));

  if (dialog == nullptr) {
    ownDialog_ = std::make_unique<QtFileDialog>(groupBox_);
    dialog = ownDialog_.get();
  }
  connect(importButton_, &QPushButton::clicked, this, &MainWindow::onImportClicked);
  connect(processButton_, &QPushButton::clicked, this, &MainWindow::onProcessClicked);

  controller_.attach(this, dialog);
  controller_.onWindowCreated(*this);
}

MainWindow::~MainWindow() {
  // The labels go with the window; later captions must not reach them.
  controller_.attach(nullptr, nullptr);
}

void MainWindow::setCaption(Label label, const std::string& text) {
  QLabel* target = label == Label::inputPath ? inputPathLabel_
                   : label == Label::status  ? statusLabel_
                                             : outputPathLabel_;
  target->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

bool MainWindow::registerDropTarget() {
  if (acceptDrops()) return false;
  setAcceptDrops(true);
  return true;
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!localPaths(event->mimeData()).empty()) event->acceptProposedAction();
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) {
  if (!localPaths(event->mimeData()).empty()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const std::vector<std::string> paths = localPaths(event->mimeData());
  if (paths.empty()) return;
  event->acceptProposedAction();
  controller_.onFileDropped(dropText(paths));
}

void MainWindow::onImportClicked() { controller_.onImportClicked(); }

void MainWindow::onProcessClicked() {
  // The pass runs here, on the window's thread; the window waits for it.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  controller_.onProcessClicked();
  QApplication::restoreOverrideCursor();
}

}  // namespace linemint
