// A file written in pieces, with the guarantees of writeWholeFile: a regular
// file (existing or new) is replaced atomically through a temporary file in
// the same folder, which is written, given the old file's permission bits and
// owner, flushed with fsync when asked and renamed over the target. A device
// or FIFO is written through in place. A symbolic link is followed: the file
// that it names is replaced and the link itself stays.
//
// Use: open (or openStandardOutput), append any number of times, commit. Until
// commit succeeds the old file is untouched; a failure anywhere, abandon, or
// destruction before commit removes the temporary file.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_io.h"

namespace linemint::platform {

class FileWriter {
 public:
  FileWriter() noexcept = default;
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;
  // Abandons a file that was opened and not committed.
  ~FileWriter();

  // Starts writing the file at path. Fails (nothing created) for an empty
  // path, a directory, a link loop or a folder where no file can be made.
  // REQUIRES: nothing open.
  IoError open(const std::string& path) noexcept;

  // Starts writing to standard output; commit only reports, it never closes it.
  // REQUIRES: nothing open.
  void openStandardOutput() noexcept;

  // Appends n bytes, looping over short writes. The first failure sticks:
  // later calls write nothing and return it. Not open: EBADF.
  IoError append(const uint8_t* data, std::size_t n) noexcept;

  // Finishes the file (see the header comment) and closes it. Returns the
  // first failure of the whole write, in which case the old file is untouched
  // and no temporary file is left. Afterwards nothing is open.
  IoError commit(bool syncToDisk) noexcept;

  // Drops an unfinished file: closes it and removes the temporary file. The
  // bytes already written in place to a device or FIFO stay written.
  void abandon() noexcept;

  bool isOpen() const noexcept { return kind_ != Kind::closed; }

 private:
  enum class Kind { closed, replace, inPlace, standardOutput };

  // Layout: what is open, its descriptor, the caller's path (for errors), the
  // file replaced and the folder and temporary name used for it, the old
  // file's mode and owner (when it existed), and the first failure.
  Kind kind_ = Kind::closed;
  int fd_ = -1;
  std::string path_;
  std::string target_;
  std::string folder_;
  std::string temporary_;
  bool existed_ = false;
  mode_t mode_ = 0;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
  IoError error_;
};

}  // namespace linemint::platform
