// The open-file dialog 通用对话框1, on QFileDialog.
#pragma once

#include <string>

#include <QString>

#include "app/window/window_seams.h"

class QWidget;

namespace linemint {

// A modal QFileDialog for one existing file, filtered to "文本数据 (*.txt)".
// Each show builds a fresh QFileDialog, a child of `parent` named 通用对话框1,
// that opens in the folder of the last chosen file with the file name set
// before (QFileDialog::selectFile cannot empty its name box, a fresh dialog
// can). REQUIRES: parent outlives this object.
class QtFileDialog : public FileDialog {
 public:
  explicit QtFileDialog(QWidget* parent) noexcept : parent_(parent) {}

  void setFileName(const std::string& name) override { fileName_ = name; }
  // Returns false, keeping the file name, when the user cancels.
  bool show() override;
  std::string fileName() const override { return fileName_; }

 private:
  QWidget* parent_;
  std::string fileName_;
  QString lastFolder_;
};

}  // namespace linemint
