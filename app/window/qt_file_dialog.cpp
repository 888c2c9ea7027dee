#include "app/window/qt_file_dialog.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QScopedPointer>

namespace linemint {

bool QtFileDialog::show() {
  QScopedPointer<QFileDialog> dialog(new QFileDialog(parent_));
  dialog->setObjectName(QStringLiteral("通用对话框1"));
  dialog->setWindowTitle(QStringLiteral("导入"));
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setNameFilter(QStringLiteral("文本数据 (*.txt)"));
  if (!lastFolder_.isEmpty()) dialog->setDirectory(lastFolder_);
  if (!fileName_.empty()) dialog->selectFile(QFile::decodeName(QByteArray::fromStdString(fileName_)));
  if (dialog->exec() != QDialog::Accepted) return false;
  const QStringList chosen = dialog->selectedFiles();
  if (chosen.isEmpty()) return false;
  fileName_ = QFile::encodeName(chosen.front()).toStdString();
  lastFolder_ = QFileInfo(chosen.front()).absolutePath();
  return true;
}

}  // namespace linemint
