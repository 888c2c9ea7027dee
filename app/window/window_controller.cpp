#include "app/window/window_controller.h"

#include "app/input_loader.h"
#include "app/window/drop_text.h"
#include "platform/cpu_features.h"
#include "platform/file_io.h"

namespace linemint {

namespace {

std::string readFailureText(const std::string& path, const platform::IoError& error) {
  const std::size_t paths = pathCountInDropText(path);
  if (paths > 1) return "一次只能处理一个文件，拖入了 " + std::to_string(paths) + " 个";
  return "无法读取 " + path + "：" + error.reason();
}

std::string writeFailureText(const platform::IoError& error) {
  return "无法写入 " + error.path + "：" + error.reason();
}

std::string sameFileText(const std::string& outputPath) {
  return "未处理：" + outputPath + " 就是输入文件，不能覆盖";
}

}  // namespace

WindowController::WindowController() noexcept = default;

WindowController::~WindowController() {
  onExit();
  platform::heapDestroy(privateHeap_);
}

void WindowController::attach(LabelSink* labels, FileDialog* dialog) noexcept {
  labels_ = labels;
  dialog_ = dialog;
}

void WindowController::setCaption(Label label, const std::string& text) {
  if (labels_ != nullptr) labels_->setCaption(label, text);
}

void WindowController::onWindowCreated(DropTarget& dropTarget) {
  if (windowCreated_) return;
  windowCreated_ = true;
  privateHeap_ = platform::heapCreate();
  hasSse2_ = platform::testSse2();
  (void)dropTarget.registerDropTarget();
}

void WindowController::load(const std::string& path) {
  const platform::IoError error = loadInput(path, LineEnd::crlf, inputBytes_, outputPath_, labels_);
  if (error.failed()) {
    inputPath_.clear();
    loadFailure_ = readFailureText(path, error);
    setCaption(Label::outputPath, *loadFailure_);
  } else {
    inputPath_ = path;
    loadFailure_.reset();
  }
}

void WindowController::onProcessClicked() {
  // A derived name can still lead back to the input (a link called 去重复_x
  // that points at x); replacing it would destroy the input.
  if (!inputBytes_.empty() && platform::sameFile(outputPath_, inputPath_)) {
    setCaption(Label::outputPath, sameFileText(outputPath_));
    return;
  }
  OutputTarget target;
  target.path = outputPath_;
  const DedupResult result =
      runDedupPass(inputBytes_, target, privateHeap_, variant(), fastTable_, sharedTable_, LineEnd::crlf);
  setCaption(Label::status, statusText(result));
  if (result.error.failed()) {
    setCaption(Label::outputPath, writeFailureText(result.error));
  } else if (loadFailure_) {
    setCaption(Label::outputPath, *loadFailure_);
  } else {
    setCaption(Label::outputPath, outputPath_);
  }
}

void WindowController::onImportClicked() {
  setCaption(Label::inputPath, "");
  setCaption(Label::outputPath, "");
  inputBytes_.reset();
  inputPath_.clear();
  loadFailure_.reset();
  if (dialog_ == nullptr) return;
  dialog_->setFileName("");
  if (!dialog_->show()) return;
  const std::string path = dialog_->fileName();
  setCaption(Label::inputPath, path);
  load(path);
}

void WindowController::onFileDropped(const std::string& text) {
  setCaption(Label::inputPath, text);
  load(text);
}

void WindowController::onExit() noexcept {
  if (exited_) return;
  exited_ = true;
  inputBytes_.reset();
  std::string().swap(inputPath_);
  std::string().swap(outputPath_);
  fastTable_.destroy();
  sharedTable_.destroy();
}

}  // namespace linemint
