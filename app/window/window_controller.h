// WindowController: the state of the desktop window and its event handlers,
// with no widget in sight.
//
// The Qt window (main_window.h) builds the controls and turns each event into
// one call here; everything the user can observe (the three labels, the
// output file) is decided by this class, so a test drives it with recorded
// labels and a scripted dialog.
//
// The controller owns, from start-up to exit: the loaded input (inputBytes),
// the derived output path, both membership tables, the pass's private heap
// and hasSse2. Only the table of the variant that hasSse2 selects is ever
// created; the other one stays empty.
//
// Failures never open a message box. A load that cannot read its file, a pass
// that cannot write its output, and an output path that names the input
// itself put a message with the path and the system's reason in 标签3.
//
// Threads: every handler runs on the window's thread; a pass blocks it until
// it is done. The private heap relies on this (it takes no lock).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/dedup_pass.h"
#include "app/labels.h"
#include "app/window/window_seams.h"
#include "fasthash/fast_hash_table.h"
#include "platform/big_buffer.h"
#include "platform/heap.h"
#include "sharedhash/shared_hash_table.h"

namespace linemint {

class WindowController {
 public:
  // Constructs both tables, neither of them created. The window is attached
  // later (attach), once it exists.
  WindowController() noexcept;
  WindowController(const WindowController&) = delete;
  WindowController& operator=(const WindowController&) = delete;

  // Runs onExit if it has not run, then gives the private heap back. The
  // controller lives as long as the program, so the heap goes at its end.
  ~WindowController();

  // Where the handlers write captions and which dialog the import button
  // shows. Either may be null: captions then go nowhere, and an absent dialog
  // counts as cancelled. REQUIRES: called before the first handler that uses
  // them; the objects outlive the controller's use of them.
  void attach(LabelSink* labels, FileDialog* dialog) noexcept;

  // The window and its controls exist: creates the private heap, tests the
  // processor for SSE2 once (platform::testSse2, whatever the start-up probe
  // found) and registers the window for dropped files. Runs once; later calls
  // do nothing. The registration's answer is not needed: a window that is not
  // registered simply receives no drops.
  void onWindowCreated(DropTarget& dropTarget);

  // The process button (按钮1). Unless the output path names the loaded input
  // itself (then 标签3 says so, and nothing runs), runs the pass in the variant
  // of hasSse2 over inputBytes, shows its status text in 标签2, and shows in
  // 标签3 the output path, or why the output could not be written, or, after a
  // failed load, why that load failed. An empty input writes nothing.
  void onProcessClicked();

  // The import button (按钮2): clears 标签1 and 标签3 and the input, opens the
  // dialog with an empty file name, and loads the chosen file, showing its
  // path in 标签1. A cancelled dialog stops after the clearing: the output path
  // and 标签2 keep their values.
  void onImportClicked();

  // A drop of local files: shows the drop text (drop_text.h) in 标签1 and
  // loads it. A text of several paths names no file: the input becomes empty,
  // the output path is derived from the whole text, and 标签3 says that one
  // file at a time is taken.
  void onFileDropped(const std::string& text);

  // Program exit: releases the input and the output path and destroys both
  // tables. Runs once; the handlers must not be called afterwards.
  void onExit() noexcept;

  // Read-only views of the state, for tests.
  const platform::BigBuffer& inputBytes() const noexcept { return inputBytes_; }
  const std::string& outputPath() const noexcept { return outputPath_; }
  platform::HeapHandle privateHeap() const noexcept { return privateHeap_; }
  // Non-zero (CPUID.1:EDX bit 26, in place) when the fast variant runs.
  uint32_t hasSse2() const noexcept { return hasSse2_; }
  PassVariant variant() const noexcept { return hasSse2_ != 0 ? PassVariant::fast : PassVariant::fallback; }
  const FastHashTable& fastTable() const noexcept { return fastTable_; }
  const SharedHashTable& sharedTable() const noexcept { return sharedTable_; }

 private:
  // loadInput with the path, then the failure message in 标签3 when the file
  // could not be read.
  void load(const std::string& path);
  void setCaption(Label label, const std::string& text);

  platform::BigBuffer inputBytes_;
  std::string outputPath_;
  // The path of the input that inputBytes holds; empty when none was read.
  std::string inputPath_;
  // Why the latest load failed, shown again after a pass over its empty input.
  std::optional<std::string> loadFailure_;
  FastHashTable fastTable_;
  SharedHashTable sharedTable_;
  platform::HeapHandle privateHeap_ = nullptr;
  uint32_t hasSse2_ = 0;
  bool windowCreated_ = false;
  bool exited_ = false;
  LabelSink* labels_ = nullptr;
  FileDialog* dialog_ = nullptr;
};

}  // namespace linemint
