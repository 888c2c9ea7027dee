// Whole-file reading and writing.
//
// Reads loop over short reads and take files of any size (past 4 GiB too).
// Writes never leave a truncated file behind: a regular file (existing or new)
// is replaced atomically through a temporary file in the same folder that is
// written, flushed with fsync and renamed over the target. The old file keeps
// its permission bits and owner on the new one. A device or FIFO is written
// through in place (there is nothing to rename). A symbolic link is followed:
// the file that it names is replaced and the link itself stays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/big_buffer.h"

namespace linemint::platform {

// The outcome of a file operation: code 0 for success, else the errno value,
// with the path it concerns.
struct IoError {
  int code = 0;
  std::string path;

  bool failed() const noexcept { return code != 0; }
  // "<path>: <strerror(code)>", for messages to the user.
  std::string describe() const;
  // strerror(code) alone.
  std::string reason() const;
};

// Reads the whole file at path into out (replacing its contents) and keeps
// `spare` more bytes of capacity after the data. Reads until end of file, so a
// FIFO or a file that grows while it is read is taken whole. On failure out is
// empty and the error names the path.
IoError readWholeFile(const std::string& path, BigBuffer& out, std::size_t spare) noexcept;

// The same for standard input; the error's path is "-".
IoError readStandardInput(BigBuffer& out, std::size_t spare) noexcept;

// Makes the file at path hold exactly the n bytes at data (see the header
// comment for how). With syncToDisk false the fsync is skipped (the rename is
// still atomic against crashes of the process, not of the machine). On failure
// the old file is untouched and no temporary file is left.
IoError writeWholeFile(const std::string& path, const uint8_t* data, std::size_t n,
                       bool syncToDisk = true) noexcept;

// Writes n bytes to standard output, looping over short writes.
IoError writeStandardOutput(const uint8_t* data, std::size_t n) noexcept;

// True when both paths exist and name the same file (after links).
bool sameFile(const std::string& a, const std::string& b) noexcept;

// True when path names an existing directory.
bool isDirectory(const std::string& path) noexcept;

}  // namespace linemint::platform
