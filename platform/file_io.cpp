#include "platform/file_io.h"

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

IoError writeAll(int fd, const uint8_t* data, std::size_t n, const std::string& path) noexcept {
  while (n > 0) {
    const std::size_t chunk = n > kReadChunk ? kReadChunk : n;
    const ssize_t put = ::write(fd, data, chunk);
    if (put < 0) {
      if (errno == EINTR) continue;
      return {errno, path};
    }
    if (put == 0) return {EIO, path};
    data += put;
    n -= static_cast<std::size_t>(put);
  }
  return {0, path};
}

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Follows symbolic links from path to the name that is not a link (it may not
// exist yet: writing through a dangling link creates its target).
IoError resolveLinks(const std::string& path, std::string& target) {
  target = path;
  for (int depth = 0; depth < 40; ++depth) {
    struct stat st{};
    if (lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return {0, path};
    char buf[PATH_MAX];
    const ssize_t len = readlink(target.c_str(), buf, sizeof buf);
    if (len < 0) return {errno, path};
    std::string next(buf, static_cast<std::size_t>(len));
    if (next.empty() || next[0] != '/') next = folderOf(target) + "/" + next;
    target = next;
  }
  return {ELOOP, path};
}

mode_t defaultCreationMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
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
  return writeAll(STDOUT_FILENO, data, n, "-");
}

IoError writeWholeFile(const std::string& path, const uint8_t* data, std::size_t n,
                       bool syncToDisk) noexcept {
  try {
    if (path.empty()) return {ENOENT, path};
    std::string target;
    if (IoError e = resolveLinks(path, target); e.failed()) return e;

    struct stat st{};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) return {EISDIR, path};
    if (exists && !S_ISREG(st.st_mode)) {
      // Devices, FIFOs and sockets: write in place.
      const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
      if (fd < 0) return {errno, path};
      IoError r = writeAll(fd, data, n, path);
      if (::close(fd) != 0 && !r.failed()) r = {errno, path};
      return r;
    }

    const std::string folder = folderOf(target);
    const std::size_t slash = target.rfind('/');
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string tmp = folder + "/." + name + ".XXXXXX";
    const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) return {errno, path};

    IoError r = writeAll(fd, data, n, path);
    if (!r.failed()) {
      const mode_t mode = exists ? (st.st_mode & 07777) : defaultCreationMode();
      if (::fchmod(fd, mode) != 0) r = {errno, path};
      if (exists && (st.st_uid != ::geteuid() || st.st_gid != ::getegid())) {
        // Best effort, as cp -p does: an unprivileged writer keeps its own owner.
        (void)!::fchown(fd, st.st_uid, st.st_gid);
      }
    }
    if (!r.failed() && syncToDisk && ::fsync(fd) != 0) r = {errno, path};
    if (::close(fd) != 0 && !r.failed()) r = {errno, path};
    if (!r.failed() && ::rename(tmp.c_str(), target.c_str()) != 0) r = {errno, path};
    if (r.failed()) {
      ::unlink(tmp.c_str());
      return r;
    }
    if (syncToDisk) {
      const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (dfd >= 0) {
        (void)::fsync(dfd);
        ::close(dfd);
      }
    }
    return {0, path};
  } catch (...) {
    return {ENOMEM, path};
  }
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
