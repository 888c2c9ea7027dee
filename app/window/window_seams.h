// What the window controller asks of the toolkit, besides its labels
// (app/labels.h): the open-file dialog and the registration for dropped files.
// The Qt window implements them; tests put scripted ones in their place, so the
// handlers run without a screen.
#pragma once

#include <string>

namespace linemint {

// The modal open-file dialog (通用对话框1), through the three things the import
// handler uses: its file-name property, showing it, and the answer.
class FileDialog {
 public:
  virtual ~FileDialog() = default;

  // Sets the file name the dialog opens with (path bytes, UTF-8 in practice).
  // The empty text opens it with an empty file-name box.
  virtual void setFileName(const std::string& name) = 0;

  // Shows the dialog and waits for the user. Returns true when a file was
  // chosen, false when the dialog was cancelled.
  virtual bool show() = 0;

  // The chosen file's full path. Meaningful after show returned true.
  virtual std::string fileName() const = 0;
};

// The window as a target for files dropped anywhere on it (拖放对象1).
class DropTarget {
 public:
  virtual ~DropTarget() = default;

  // Starts delivering drops to the controller's onFileDropped. Returns false
  // when the window is already registered (a second registration is refused).
  virtual bool registerDropTarget() = 0;
};

}  // namespace linemint
