// MainWindow: the tool's only window, in Qt Widgets.
//
// It builds the controls with their names, captions, positions and sizes,
// shows captions that the controller sets, and turns the four events (the
// window's creation, the two buttons, a drop of files) into calls on the
// WindowController. It decides nothing itself.
//
// Controls (positions relative to their container, in pixels):
//   MainWindow   50, 50    492 x 178  "Linemint   By：Tamsel" (fixed size)
//   分组框1       8, 8      408 x 48   group box "文本路径"
//     标签1       16, 16    384 x 24   the input path
//   按钮2         424, 16   56 x 32    "导入"
//   标签2         8, 72     360 x 24   the status of the last pass
//   按钮1         376, 72   104 x 64   "处理重复数据"
//   标签3         8, 112    360 x 24   the output path, or what went wrong
// The open-file dialog 通用对话框1 belongs to 分组框1 (qt_file_dialog.h); the
// drop target 拖放对象1 is the whole window.
#pragma once

#include <memory>
#include <string>

#include <QWidget>

#include "app/labels.h"
#include "app/window/window_seams.h"

class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QGroupBox;
class QLabel;
class QMimeData;
class QPushButton;

namespace linemint {

class WindowController;

class MainWindow : public QWidget, public LabelSink, public DropTarget {
  Q_OBJECT

 public:
  // Builds the window and its controls, attaches them to the controller and
  // runs controller.onWindowCreated. A null dialog means the real open-file
  // dialog; tests pass a scripted one. REQUIRES: controller and dialog
  // outlive the window.
  explicit MainWindow(WindowController& controller, FileDialog* dialog = nullptr, QWidget* parent = nullptr);
  ~MainWindow() override;

  // LabelSink: shows text (UTF-8) as plain text, never as markup, so that a
  // file name like "<b>x</b>" shows as it is.
  void setCaption(Label label, const std::string& text) override;

  // DropTarget: accepts drops of local files from now on.
  bool registerDropTarget() override;

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void onProcessClicked();
  void onImportClicked();

  WindowController& controller_;
  std::unique_ptr<FileDialog> ownDialog_;
  QGroupBox* groupBox_;
  QLabel* inputPathLabel_;
  QPushButton* importButton_;
  QLabel* statusLabel_;
  QPushButton* processButton_;
  QLabel* outputPathLabel_;
};

}  // namespace linemint
