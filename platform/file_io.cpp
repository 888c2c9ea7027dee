#include "platform/file_io.h"

#include "platform/file_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace linemint::platform {

std::string IoError::reason() const { return std::strerror(code); }

std::string IoError::describe() const { return path + ": " + reason(); }

namespace {

constexpr std::size_t kReadChunk = std::size_t{1} << 30;

IoError readFd(int fd, const std::string& path, BigBuffer& out, std::size_t spare) noexcept {
  struct stat st{};
  std::size_t expected = 0;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    expected = static_cast<std::size_t>(st.st_size);
  }
  out.resize(0);
  if (!out.reserve(expected + spare + (expected == 0 ? 65536 : 1))) return {ENOMEM, path};
  for (;;) {
    if (out.capacity() - out.size() < spare + 1) {
      if (!out.reserve(out.capacity() * 2 + spare)) {
        out.reset();
        return {ENOMEM, path};
      }
    }
    std::size_t room = out.capacity() - out.size() - spare;
    if (room > kReadChunk) room = kReadChunk;
    const ssize_t got = ::read(fd, out.data() + out.size(), room);
    if (got < 0) {
      if (errno == EINTR) continue;
      const int e = errno;
      out.reset();
      return {e, path};
    }
    if (got == 0) break;
    out.resize(out.size() + static_cast<std::size_t>(got));
  }
  return {0, path};
}

}  // namespace

IoError readWholeFile(const std::string& path, BigBuffer& out, std::size_t spare) noexcept {
  if (path.empty()) {
    out.reset();
    return {ENOENT, path};
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    out.reset();
    return {errno, path};
  }
  IoError r = readFd(fd, path, out, spare);
  ::close(fd);
  return r;
}

IoError readStandardInput(BigBuffer& out, std::size_t spare) noexcept {
  return readFd(STDIN_FILENO, "-", out, spare);
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
