#include "platform/file_io.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/file_reader.h"
#include "platform/file_writer.h"

namespace linemint::platform {

std::string IoError::reason() const { return std::strerror(code); }

std::string IoError::describe() const { return path + ": " + reason(); }

namespace {

// Reads source to its end into out, keeping `spare` bytes of capacity after
// the data; reserves the size hint at once, so a regular file is one read.
IoError readAll(FileReader& source, BigBuffer& out, std::size_t spare) noexcept {
  const std::size_t expected = source.sizeHint();
  out.resize(0);
  if (!out.reserve(expected + spare + (expected == 0 ? 65536 : 1))) return {ENOMEM, source.path()};
  for (;;) {
    if (out.capacity() - out.size() < spare + 1) {
      if (!out.reserve(out.capacity() * 2 + spare)) {
        out.reset();
        return {ENOMEM, source.path()};
      }
    }
    const std::size_t room = out.capacity() - out.size() - spare;
    std::size_t got = 0;
    if (IoError e = source.read(out.data() + out.size(), room, &got); e.failed()) {
      out.reset();
      return e;
    }
    out.resize(out.size() + got);
    if (got < room) return {0, source.path()};  // the end of the file
  }
}

}  // namespace

IoError readWholeFile(const std::string& path, BigBuffer& out, std::size_t spare) noexcept {
  FileReader source;
  if (IoError e = source.open(path); e.failed()) {
    out.reset();
    return e;
  }
  return readAll(source, out, spare);
}

IoError readStandardInput(BigBuffer& out, std::size_t spare) noexcept {
  FileReader source;
  source.openStandardInput();
  return readAll(source, out, spare);
}

IoError writeStandardOutput(const uint8_t* data, std::size_t n) noexcept {
  FileWriter writer;
  writer.openStandardOutput();
  writer.append(data, n);
  return writer.commit(false);
}

IoError writeWholeFile(const std::string& path, const uint8_t* data, std::size_t n,
                       bool syncToDisk) noexcept {
  FileWriter writer;
  if (IoError e = writer.open(path); e.failed()) return e;
  writer.append(data, n);
  return writer.commit(syncToDisk);
}

bool sameFile(const std::string& a, const std::string& b) noexcept {
  struct stat sa{}, sb{};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool isDirectory(const std::string& path) noexcept {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace linemint::platform
