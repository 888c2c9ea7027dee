// A file read in pieces, from the start to its end, for inputs that need not
// fit in memory. Reads loop over interruptions and return short counts only at
// the end of the file, so a FIFO or a pipe is read like a regular file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_io.h"

namespace linemint::platform {

class FileReader {
 public:
  FileReader() noexcept = default;
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;
  // Closes the file (standard input stays open).
  ~FileReader();

  // Opens the file at path for reading. An empty path is ENOENT; a directory
  // is EISDIR. REQUIRES: nothing open.
  IoError open(const std::string& path) noexcept;

  // Reads standard input; errors name the path "-". REQUIRES: nothing open.
  void openStandardInput() noexcept;

  // Fills up to n bytes at buffer and sets *got to the count: less than n only
  // at the end of the file (0 once it is reached). Not open: EBADF.
  IoError read(uint8_t* buffer, std::size_t n, std::size_t* got) noexcept;

  // The path given to open ("-" for standard input).
  const std::string& path() const noexcept { return path_; }

  // The size a regular file had when it was opened, else 0: a hint for
  // reserving memory, since the file may still change.
  std::size_t sizeHint() const noexcept { return sizeHint_; }

 private:
  // Layout: the descriptor (-1: nothing open), whether it is standard input,
  // the size hint, and the path for errors.
  int fd_ = -1;
  bool standardInput_ = false;
  std::size_t sizeHint_ = 0;
  std::string path_;
};

}  // namespace linemint::platform
