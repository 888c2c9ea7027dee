// The three labels of the window, as something that logic code can write to
// without knowing about widgets. The window implements it with its QLabels;
// tests record what was written.
#pragma once

#include <string>

namespace linemint {

enum class Label {
  inputPath,   // 标签1: the path that was loaded or dropped
  status,      // 标签2: the status of the last pass
  outputPath,  // 标签3: the output path, or what went wrong
};

class LabelSink {
 public:
  virtual ~LabelSink() = default;
  // Sets the caption of one label (UTF-8).
  virtual void setCaption(Label label, const std::string& text) = 0;
};

}  // namespace linemint
